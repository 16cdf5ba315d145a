[playlist]
File1=http://s/a
Title1=A
File2=file:///x
NumberOfEntries=2
