# bash completion for orbitune: its options, and for --play the names of
# the programs in the list (asked of the running Orbitune).
_orbitune() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    --play)
      local IFS=$'\n' names
      names=$(orbitune --list 2>/dev/null | cut -f2)
      COMPREPLY=($(compgen -W "$names" -- "${cur}"))
      # Names hold spaces: each is one word.
      COMPREPLY=("${COMPREPLY[@]// /\\ }")
      return ;;
    --group)
      local IFS=$'\n' groups
      groups=$(orbitune --list 2>/dev/null | cut -f3 -s | sort -u)
      COMPREPLY=($(compgen -W "$groups" -- "${cur}"))
      COMPREPLY=("${COMPREPLY[@]// /\\ }")
      return ;;
    --volume | --back | --add | --name)
      return ;;
  esac
  COMPREPLY=($(compgen -W "--help --hidden --play --pause --toggle --stop --next --previous
    --volume --mute --record --save-last-song --back --live --status --list --add --name
    --group --json" -- "${cur}"))
}
complete -F _orbitune orbitune
