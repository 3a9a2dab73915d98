#!/usr/bin/env bash
# Writes obrint-cli's man page from the program's own help, at build time, so that the page cannot
# drift from the program:
#   make-manpage.sh OBRINT-CLI OUT.1
# help2man reads --version and the part of --help up to the command list (description, synopsis,
# global options). The command list gives the COMMANDS section, each command's own --help its
# usage and options; the help's footer gives EXIT STATUS and EXAMPLES.
set -euo pipefail
exe=$(realpath "$1")
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$exe" --help >"$work/help"
commands=$(sed -n '/^Subcommands:$/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' "$work/help")
[ -n "$commands" ] || { echo "make-manpage: no commands in $exe --help" >&2; exit 1; }

# The program as help2man runs it (under its own name): --help without the command list and
# the footer, which the sections below render.
mkdir "$work/bin"
cat >"$work/bin/obrint-cli" <<EOF
#!/bin/sh
"$exe" "\$@" | sed '/^Subcommands:\$/,\$d'
EOF
chmod +x "$work/bin/obrint-cli"

# roff text: backslashes and minus signs escaped, no line read as a request.
esc='function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); if (s ~ /^[.\047]/) s = "\\&" s; return s }'

# A command's help: description, usage, then "  NAME   DESCRIPTION" entries under Positionals: and
# Options:, a description too long for its line on the next line, indented to column 28.
command_section() {
  "$exe" "$1" --help | awk -v cmd="$1" "$esc"'
    NR == 1 { print ".SS " cmd; print esc($0); next }
    /^Usage: / { sub(/^Usage: /, ""); print ".PP"; print "\\fBUsage:\\fR " esc($0); next }
    /^Exit status:$/ { exit }
    /^$/ || /^[A-Z][a-z]*:$/ || /^  -h,--help / { next }
    /^                            / { sub(/^ +/, ""); print esc($0); next }
    /^  / {
      name = substr($0, 3); desc = ""
      if (length($0) > 28 && substr($0, 27, 2) == "  ") {
        name = substr($0, 3, 24); desc = substr($0, 29)
      }
      sub(/ +$/, "", name)
      print ".TP"; print "\\fB" esc(name) "\\fR"
      if (desc != "") print esc(desc)
    }'
}

{
  echo '[COMMANDS]'
  for c in $commands; do command_section "$c"; done
  # The footer: "  N  name: meaning" lines, then paragraphs, then the examples.
  awk "$esc"'
    /^Exit status:$/ { part = "status"; print "[EXIT STATUS]"; next }
    /^Try it without a headset:$/ { part = "examples"; print "[EXAMPLES]"; print esc($0); next }
    part == "status" && /^  [0-9]+  / {
      match($0, /^  [0-9]+/); print ".TP"; print substr($0, 3, RLENGTH - 2)
      print esc(substr($0, RLENGTH + 3)); next
    }
    part == "status" && /^[^ ]/ { print ".PP"; print esc($0); next }
    part == "examples" && /^  / { sub(/^ +/, ""); print ".IP"; print esc($0) }
  ' "$work/help"
  cat <<'EOF'
[FILES]
.TP
.I /usr/lib/udev/rules.d/70\-obrint.rules
gives the headset's hidraw nodes (USB vendor 2833) to the user at the seat, and to the group
\fBplugdev\fR on stations without a seat. Plug the headset in again after installing it.
[SEE ALSO]
.BR udev (7)
EOF
} >"$work/include"

help2man --no-info --no-discard-stderr --name "look after a USB VR headset: firmware, image checksums, run mode" \
  --include "$work/include" --output "$out" "$work/bin/obrint-cli"
