# fish completion for marlit(1).

# The attribute names, after what the token already holds up to its last
# comma, so that lists like "h,s" complete name by name.
function __marlit_attributes
    set -l head (commandline -ct | string replace -r -- '^--[a-z]+=' '' | string replace -r -- '[^,]*$' '')
    for pair in a\t'archive: regular files' r\t'readonly: owner may not write' \
            h\t'hidden: name begins with a dot' s\t'system: devices, FIFOs, sockets' \
            d\t'directory' c\t'compressed by the file system' \
            archive\t'regular files' readonly\t'owner may not write' \
            hidden\t'name begins with a dot' system\t'devices, FIFOs, sockets' \
            directory\t'directories' compressed\t'compressed by the file system'
        printf '%s%s\n' $head $pair
    end
end

complete -c marlit -f -a '(__fish_complete_directories)'
complete -c marlit -s r -l recursive -d 'Every entry below DIR, at any depth'
complete -c marlit -l max-depth -x -d 'Entries at most N levels below DIR (implies -r)'
complete -c marlit -l skip -x -d 'List directories the mask matches, but not their contents'
complete -c marlit -s L -l follow -d 'Walk into symbolic links to directories'
complete -c marlit -l xdev -d 'Do not walk into other file systems'
complete -c marlit -l mask -x -d 'File mask: * ? [a-z], comma list, excludes after |'
complete -c marlit -l size -x -d 'Size in bytes with k, m, g: A, A..B, A.., ..B'
complete -c marlit -l date -x -d 'Last-write date D-M-Y: A, A..B, A.., ..B'
complete -c marlit -l time -x -d 'Last-write time of day H:M: A, A..B, A.., ..B'
complete -c marlit -l include -x -a '(__marlit_attributes)' -d 'Pass entries with any of these attributes'
complete -c marlit -l exclude -x -a '(__marlit_attributes)' -d 'Leave out entries with all of these attributes'
complete -c marlit -l select -d 'Mark the entries that pass'
complete -c marlit -l deselect -d 'Unmark the entries that pass'
complete -c marlit -l invert -d 'Flip the marks of the entries that pass'
complete -c marlit -l clear-first -d 'Unmark everything first'
complete -c marlit -l no-clear-first -d 'Keep the current marks'
complete -c marlit -l last -d 'Start from the stored criteria'
complete -c marlit -l reset -d 'Start from the defaults'
complete -c marlit -s i -l interactive -d 'Fill in the dialog on the terminal'
complete -c marlit -l explain -d 'Tell how the criteria are read'
complete -c marlit -s q -l quiet -d 'Print no warnings, no status line'
complete -c marlit -l selected -r -F -d 'Mark the paths listed in FILE first'
complete -c marlit -s 0 -l null -d 'Paths end with NUL'
complete -c marlit -s l -l long -d 'Print size, date, time and attributes'
complete -c marlit -l plugin -r -F -d 'Load the plug-in module from PATH'
complete -c marlit -s h -l help -d 'Print the help'
complete -c marlit -l version -d 'Print the version'
