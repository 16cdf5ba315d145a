#!/usr/bin/env python3
"""Writes the seed corpus for fuzz_store into corpus/store/ (checked in; run again
only to regenerate). Crash inputs found later are added next to these."""
import os
import plistlib
import shutil
import struct

here = os.path.dirname(os.path.abspath(__file__))
corpus = os.path.join(here, 'corpus', 'store')
fixtures = os.path.join(here, '..', 'fixtures', 'store')
os.makedirs(corpus, exist_ok=True)


def write(name, data):
    with open(os.path.join(corpus, name), 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())


for f in sorted(os.listdir(fixtures)):
    if f.endswith('.plist'):
        shutil.copy(os.path.join(fixtures, f), os.path.join(corpus, 'fixture-' + f))
shutil.copy(os.path.join(here, '..', '..', 'resources', 'default.plist'),
            os.path.join(corpus, 'shipped-default.plist'))

head = '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">'
tail = '</plist>\n'
write('empty', b'')
write('whitespace', b' \n\t\n')
write('empty-dict.plist', head + '<dict/>' + tail)
write('top-integer.plist', head + '<integer>-1</integer>' + tail)
write('top-data.plist', head + '<data>AAEC</data>' + tail)
write('data-is-dict.plist', head + '<dict><key>data</key><dict/><key>live</key><string>x</string></dict>' + tail)
# Deep but accepted; kept moderate because logging a deeply nested value
# costs time quadratic in the depth (see slow/).
write('deep-ok.plist', head + '<dict><key>data</key>' + '<array>' * 60 + '</array>' * 60 + '</dict>' + tail)
write('deep-over.plist', head + '<dict><key>data</key>' + '<array>' * 300 + '</array>' * 300 + '</dict>' + tail)
write('deep-comment-trick.plist', head + '<!--' + '</array>' * 300 + '-->' + '<array>' * 300 + tail)
write('huge-string.plist', head + '<dict><key>data</key><array><dict><key>name</key><string>'
      + 'x' * 200000 + '</string><key>url</key><string>u</string></dict></array></dict>' + tail)
write('invalid-utf8-key.plist', (head + '<dict><key>da\xffta</key><array/></dict>' + tail).encode('latin-1'))
write('cdata-comment.plist', head + '<dict><key>data</key><array><dict><key>name</key><string><![CDATA[<a>]]>'
      '<!-- c --></string></dict></array></dict>' + tail)
write('entities.plist', head + '<dict><key>data</key><array><dict><key>name</key>'
      '<string>&lt;&#x1F600;&#0;&amp;&bogus;</string></dict></array></dict>' + tail)
write('reals-dates.plist', head + '<dict><key>data</key><array><dict><key>r</key><real>1e308</real>'
      '<key>n</key><real>nan</real><key>d</key><date>1901-12-13T20:45:52Z</date>'
      '<key>d2</key><date>9999-12-31T23:59:59Z</date><key>i</key><integer>18446744073709551615</integer>'
      '</dict></array></dict>' + tail)
entry = {'name': 'N', 'image': 'I', 'url': 'U'}
write('binary-list.plist', plistlib.dumps({'data': [entry, entry, 'x', 3], 'live': entry},
                                          fmt=plistlib.FMT_BINARY))
write('binary-uid.plist', plistlib.dumps({'data': [plistlib.UID(7)], 'live': {'u': plistlib.UID(300)}},
                                         fmt=plistlib.FMT_BINARY))

# Station lists of other players, for the import read path.
write('import.m3u', '#EXTM3U\n#EXTINF:-1 tvg-logo="http://i/a.png",A, "b"\nhttp://s/a\n'
      'javascript:x\n#EXTINF:-1,<b>\x01\nhttps://s/b\n')
write('import.pls', '[playlist]\nFile1=http://s/a\nTitle1=A\nFile2=file:///x\nNumberOfEntries=2\n')
write('import.xspf', '<playlist xmlns="http://xspf.org/ns/0/"><trackList><track><location>'
      'http://s/a</location><title>A</title><image>http://i/a</image></track></trackList>'
      '</playlist>')
write('import-goodvibes.xml', '<Stations><Station><name>A</name><uri>http://s/a</uri>'
      '</Station></Stations>')
write('import-radiotray.json', '[{"group":"g","stations":[{"name":"A","url":"http://s/a",'
      '"image":"http://i/a"}]}]')



def bplist(objects):  # encoded objects; one-byte references, two-byte offsets
    body, offsets = b'bplist00', []
    for o in objects:
        offsets.append(len(body))
        body += o
    table = b''.join(o.to_bytes(2, 'big') for o in offsets)
    return body + table + bytes([0] * 6 + [2, 1]) + struct.pack('>QQQ', len(objects), 0, len(body))


# 805 bytes standing for 14^28 copies of one string (28 levels of arrays, each
# holding the next 14 times): refused without walking the copies.
write('binary-shared-28-levels.plist',
      bplist([bytes([0xAE] + [i + 1] * 14) for i in range(28)] + [b'\x5F\x11\x01\x1B' + b'x' * 283]))
write('binary-cycle-of-two.plist', bplist([b'\xA1\x01', b'\xA1\x00']))  # each holds the other
