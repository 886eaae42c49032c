#!/bin/sh
# Usage: man.sh HELP2MAN OUT.1.gz CORVANE PAGE NAME-LINE [MODSIM]
# Writes one manual page from a program's --help: corvane's own (PAGE corvane), one command's
# (PAGE corvane-CMD; an empty NAME-LINE takes the command's first line of help), or the
# simulator's (with MODSIM). help2man names a page after the program it runs; a command's page
# is renamed after what the user types.
set -eu
help2man=$1 out=$2 corvane=$3 page=$4 name=$5
# What --help cannot hold (exit status, signals, files, environment, the station's slots and
# events) comes from man/PAGE.h2m; a command's page without one of its own points to corvane(1).
include=$(dirname "$0")/man/$page.h2m
[ -f "$include" ] || include=$(dirname "$0")/man/corvane-command.h2m
case "$page" in
  corvane)
    "$help2man" -N -n "$name" --include="$include" "$corvane" ;;
  corvane-modsim)
    # Run under its installed name, which its usage and --version say after argv[0].
    link=$(dirname "$out")/corvane-modsim
    ln -sf "$(realpath "$6")" "$link"
    "$help2man" -N -n "$name" --include="$include" "$link"
    rm -f "$link" ;;
  corvane-*)
    command=${page#corvane-}
    [ -n "$name" ] || name=$("$corvane" "$command" --help | head -n 1)
    "$help2man" -N -n "$name" --include="$include" --help-option="$command --help" "$corvane" |
      sed -e "s/^\\.TH CORVANE /.TH $(echo "$page" | tr a-z A-Z) /" \
          -e "s/^corvane \\\\- /$page \\\\- /" ;;
esac | gzip -9n >"$out.tmp"
mv "$out.tmp" "$out"
