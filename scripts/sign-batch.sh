#!/usr/bin/env bash
# Signs one batch of documents on another machine, for a folder spread over
# several machines that share no storage (see the README). The documents named
# on standard input, one path a line under the current folder, travel to the
# machine in one tar stream over one ssh connection; one quillseal run signs
# them there with -j 0; the signed files come back in one tar stream into the
# output folder.
#
# usage: sign-batch.sh OUTPUT HOST... [-- QUILLSEAL-OPTIONS...]
#   OUTPUT is a folder under the current one, and its path is the same on the
#   hosts, inside a folder of the batch's own, so the status lines name the
#   files as they are here.
#
# GNU parallel runs it once per batch: with several hosts the job slot
# ($PARALLEL_JOBSLOT) picks one, so `parallel -j 2N` keeps two batches on each
# of N hosts. The host ":" is this machine, reached without ssh. quillseal must
# be on the PATH of a command run over ssh on every host.
#
# A document whose signed file is in OUTPUT already is not sent, so running the
# same command again signs only what a failed or stopped run left. Signed files
# come back into a folder of their own in OUTPUT (quillseal-partial-batch- and
# six letters or digits) and are moved to their names only once the whole
# stream has arrived, never over a file that is there. The status lines of the
# batch go to standard output. The status is 0 when every document was signed,
# 1 when one failed or the signed files could not be received, 255 when the
# host could not be reached.
set -uo pipefail

usage() { echo "usage: sign-batch.sh OUTPUT HOST... [-- QUILLSEAL-OPTIONS...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
out=$1; shift
case /$out/ in //* | */../*) echo "sign-batch.sh: OUTPUT must be a folder under the current one" >&2; exit 2 ;; esac
hosts=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do hosts+=("$1"); shift; done
[ $# -gt 0 ] && shift
[ ${#hosts[@]} -gt 0 ] || usage
slot=${PARALLEL_JOBSLOT:-1}
host=${hosts[$(( (slot - 1) % ${#hosts[@]} ))]}

# One word for a POSIX shell, whatever it holds.
quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

# What runs on the host, in sh: unpack in a folder of its own, sign what was
# unpacked (the status lines go to standard error, which comes back apart from
# the files), send back the signed files, and remove the folder.
options=
for option in "$@"; do options+=" $(quote "$option")"; done
remote="d=\$(mktemp -d) || exit 1
trap 'cd / && rm -rf \"\$d\"' EXIT
trap 'exit 1' HUP INT TERM
cd \"\$d\" && mkdir -p -- $(quote "$out") || exit 1
tar -x -v --quoting-style=literal | quillseal -i - -o $(quote "$out")$options -j 0 >&2
signed=\$?
tar -c -C $(quote "$out") . || exit 1
[ \$signed -eq 0 ]"

on_host() {
    if [ "$host" = : ]; then sh -c "$remote"; else ssh "$host" "sh -c $(quote "$remote")"; fi
}

mkdir -p -- "$out" || exit 1
list=$(mktemp) || exit 1
stage=$(mktemp -d "$out/quillseal-partial-batch-XXXXXX") || { rm -f "$list"; exit 1; }
trap 'rm -rf -- "$stage" "$list"' EXIT

# Only documents whose signed file is not there yet travel.
while IFS= read -r path; do
    if [ -n "$path" ] && [ ! -e "$out/${path##*/}" ]; then printf '%s\n' "$path"; fi
done > "$list"
[ -s "$list" ] || exit 0

exec 3>&1
tar -c --verbatim-files-from -T "$list" | on_host 2>&3 | tar -x -C "$stage"
statuses=("${PIPESTATUS[@]}")
if [ "${statuses[1]}" -eq 255 ]; then
    echo "-1#The batch could not be signed on $host (ssh ended with status 255); running the command again signs it"
    exit 255
fi
# A stream cut short brings nothing in: the run again signs the whole batch.
[ "${statuses[2]}" -eq 0 ] || exit 1
find "$stage" -mindepth 1 -maxdepth 1 -type f -exec mv -n -t "$out" -- {} +
# What is left had a file of its name appear meanwhile (another batch listed a
# document of the same name): that file is kept, and this one is dropped.
kept=0
for left in "$stage"/* "$stage"/.[!.]*; do
    [ -e "$left" ] || continue
    echo "-1#A signed file came back, but $out/${left##*/} appeared meanwhile and is kept; this one is dropped"
    kept=1
done
[ "${statuses[0]}" -eq 0 ] && [ "${statuses[1]}" -eq 0 ] && [ $kept -eq 0 ]
