# bash completion for veltro51-cli                                     -*- shell-script -*-
# Commands, options, chip names, the places of the attached programmers (from 'veltro51-cli list')
# and files by extension. Needs nothing of the bash-completion package, which loads it on demand.

# shellcheck disable=SC2207 # compgen's words never hold blanks but file names, which are split at new lines

# Options that take a value, in either form (--chip NAME, --chip=NAME).
_veltro51_cli_takes_value() {
    case $1 in
    --chip | --programmer | --format | --lock | --write | --set | --serial | --serial-file | --log | --serial-store | --events)
        return 0
        ;;
    esac
    return 1
}

# The options a command takes besides the global ones.
_veltro51_cli_options() {
    local global='--chip --programmer --quiet --force --json --verbose --format --lenient --help --version'
    case $1 in
    burn) echo "$global --lock --more --serial --serial-file --log --all --watch --serial-store --serial-reset" ;;
    job) echo "$global --lock --more --serial --serial-file --log --all --watch --serial-store --serial-reset" ;;
    run) echo "$global --watch --log" ;;
    lock) echo "$global --write" ;;
    speed) echo "$global --set" ;;
    dump) echo "$global --sum" ;;
    *) echo "$global" ;;
    esac
}

# Adds the files below the word being completed whose names end in one of the extensions (any case),
# and the folders to go on into.
_veltro51_cli_files() {
    local cur=$1 f IFS=$'\n'
    shift
    compopt -o filenames 2>/dev/null
    for f in $(compgen -d -- "$cur"); do
        COMPREPLY+=("$f")
    done
    for f in $(compgen -f -- "$cur"); do
        [[ -f $f ]] || continue
        local ext
        for ext in "$@"; do
            if [[ ${f,,} == *."$ext" ]]; then
                COMPREPLY+=("$f")
                break
            fi
        done
    done
}

_veltro51_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev='' i word command='' valueOf=''
    local -a operands=()
    COMPREPLY=()

    # The option whose value is being completed: --opt VALUE, or --opt=VALUE (bash splits it at '=').
    if [[ $cur == = ]]; then
        valueOf=${COMP_WORDS[COMP_CWORD - 1]}
        cur=''
    elif ((COMP_CWORD >= 2)) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == = ]]; then
        valueOf=${COMP_WORDS[COMP_CWORD - 2]}
    elif ((COMP_CWORD >= 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        _veltro51_cli_takes_value "$prev" && valueOf=$prev
    fi

    # The command and its operands so far; option values and '--opt=value' are no operands.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == = ]]; then
            ((i++))
            continue
        fi
        if [[ $word == -?* ]]; then
            if _veltro51_cli_takes_value "$word" && [[ ${COMP_WORDS[i + 1]} != = ]] && ((i + 1 < COMP_CWORD)); then
                ((i++))
            fi
            continue
        fi
        if [[ -z $command ]]; then
            command=$word
        else
            operands+=("$word")
        fi
    done

    if [[ -n $valueOf ]]; then
        case $valueOf in
        --chip) COMPREPLY=($(compgen -W 'AT89S2051 AT89S4051 AT89S51 AT89S52 AT89S8253' -- "${cur^^}")) ;;
        --programmer)
            local places
            places=$("${COMP_WORDS[0]}" list 2>/dev/null | awk '$1 ~ /^[0-9]+\/[0-9]+$/ { print $1 }')
            COMPREPLY=($(compgen -W "$places" -- "$cur"))
            ;;
        --format) COMPREPLY=($(compgen -W 'hex bin' -- "$cur")) ;;
        --lock | --write) COMPREPLY=($(compgen -W '1 2 3 4' -- "$cur")) ;;
        --set) COMPREPLY=($(compgen -W '3000 750 188 94' -- "$cur")) ;;
        --serial-file | --log)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            ;;
        esac
        # --serial ADDR,..., --serial-store URL and --events FD: nothing to offer.
        return 0
    fi

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_veltro51_cli_options "$command")" -- "$cur"))
    fi
    if [[ -z $command ]]; then
        [[ $cur == -* ]] ||
            COMPREPLY=($(compgen -W 'list info burn read verify blank erase lock speed convert dump run job store' -- "$cur"))
        return 0
    fi

    # The operand being completed: its files by extension, '-' for standard input or output.
    local n=${#operands[@]}
    case $command:$n in
    burn:0 | verify:0 | dump:0 | convert:0 | convert:1 | read:0)
        [[ $cur == - || -z $cur ]] && COMPREPLY+=(-)
        [[ $cur == -* && $cur != - ]] || _veltro51_cli_files "$cur" hex ihx bin
        ;;
    run:0 | job:0)
        [[ $cur == -* ]] || _veltro51_cli_files "$cur" toml
        ;;
    job:1)
        [[ $cur == -* ]] || COMPREPLY=($(compgen -W 'burn' -- "$cur"))
        ;;
    store:0)
        [[ $cur == -* ]] || COMPREPLY=($(compgen -W 'init' -- "$cur"))
        ;;
    esac
    return 0
}
complete -F _veltro51_cli veltro51-cli
