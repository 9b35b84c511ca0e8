# bash completion for marlit(1): the options, attribute names after
# --include and --exclude (comma-separated), files after --selected and
# --plugin, and directories.

_marlit()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    # bash splits "--include=a,h" at the '=': the option is one word back.
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-1]}
        cur=
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi

    case $prev in
        --include|--exclude)
            local head=
            [[ $cur == *,* ]] && head=${cur%,*},
            COMPREPLY=($(compgen -P "$head" \
                -W 'a r h s d c archive readonly hidden system directory compressed' \
                -- "${cur##*,}"))
            compopt -o nospace 2>/dev/null
            return
            ;;
        --selected|--plugin)
            COMPREPLY=($(compgen -f -- "$cur"))
            compopt -o filenames 2>/dev/null
            return
            ;;
        --mask|--size|--date|--time|--skip|--max-depth)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--mask --size --date --time --include --exclude
            --select --deselect --invert --clear-first --no-clear-first --last
            --reset --interactive --explain --quiet --selected --null --long
            --plugin --help --version --recursive --max-depth --skip --follow
            --xdev -i -q -0 -l -h -r -L' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -d -- "$cur"))
    compopt -o filenames 2>/dev/null
}
complete -F _marlit marlit
