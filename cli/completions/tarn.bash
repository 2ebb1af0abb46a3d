# bash completion for tarn: command words, options and format names.
_tarn() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="ping connections save-connection delete-connection test-connection
        tree query cancel cancel-spid editgrid-load editgrid-apply script activity kill
        storage storage-post admin job tls-pin shell help"
    local options="--host --format --max-time --keep-going --verbose --version --help -v -V -h --"

    case $prev in
        --format)
            mapfile -t COMPREPLY < <(compgen -W "raw table csv tsv json" -- "$cur")
            return
            ;;
        --host | --max-time)
            COMPREPLY=()
            return
            ;;
    esac

    # The first word that is neither an option nor an option's value.
    local i word command=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --host | --format | --max-time) ((i++)) ;;
            -*) ;;
            *)
                command=$word
                break
                ;;
        esac
    done

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    elif [[ $command == help || $command == --help || $command == -h ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    elif [[ $cur == @* ]]; then
        # @PATH words: complete the file name after the @.
        mapfile -t COMPREPLY < <(compgen -f -- "${cur#@}" | sed 's/^/@/')
    else
        COMPREPLY=()
    fi
}
complete -F _tarn tarn
