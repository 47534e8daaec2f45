#!/usr/bin/env bash
# The update run end to end under Wine: each scenario lays out an installation
# and a package in the prefix's drive C:, writes the registry as the 32-bit
# installer does, runs Update.exe through the driver and checks the message
# box (text, caption, icon), the exit code, Notepad, and the files on disk;
# silent runs (/S) must show no box and start no Notepad, and a log
# (/LOG=) must hold what the run did.
#
# With SIGNED_EXE (the program built with the test's keys "first" and
# "second") and KEYS (the folder of the test's key pairs, first, second and
# other, .pem and .pub), the signed manifest through Wine's bcrypt too.
#
# Usage: run-scenarios.sh UPDATE_EXE DRIVER_EXE [SIGNED_EXE KEYS]
# Needs WINEPREFIX (a prepared 64-bit prefix) and DISPLAY (an X server).
set -uo pipefail
update_exe="$1"
driver_exe="$2"
signed_exe="${3:-}"
keys="${4:-}"
if [ -n "$keys" ]; then
    keys="$(cd "$keys" && pwd)"
fi
: "${WINEPREFIX:?}" "${DISPLAY:?}"
export WINEDEBUG=-all

drive_c="$WINEPREFIX/drive_c"
key='SOFTWARE\Quorvane Software\Brenvolt\1.0'

# The texts as they must arrive on the screen, in the driver's escaped UTF-8.
text_not_found='Das Update konnte nicht installiert werden, da das Programm nicht\r\ngefunden wurde.\r\n\r\nInstallieren Sie erst Brenvolt v1.00, bevor Sie das Update anwenden.\r\n'
text_running='Sie müssen erst Brenvolt schließen,\r\nbevor Sie das Update installieren.'
text_cannot_open='Ein Fehler ist während dem Update aufgetreten.\r\n\r\nInstallieren Sie erst Brenvolt v1.00, bevor Sie das Update anwenden.\r\n'
text_done() { printf 'Es wurden %d Dateien kopiert.\\r\\nDas Update wurde korrekt installiert.' "$1"; }
text_not_installed() {
    printf '%d Dateien konnten nicht kopiert werden.\\r\\n\\r\\nDas Update wurde nicht installiert, die Installation ist unverändert.' "$1"
}
text_not_installed_only_folders() {
    printf '%d Ordner konnten nicht gelesen oder angelegt werden.\\r\\n\\r\\nDas Update wurde nicht installiert, die Installation ist unverändert.' "$1"
}
text_damaged() {
    printf 'Das Update-Paket ist unvollständig oder beschädigt:\\r\\n%d Dateien fehlen oder weichen ab.\\r\\n\\r\\nDas Update wurde nicht installiert, die Installation ist unverändert.' "$1"
}
text_package_is_installation='Das Update-Paket liegt im Installationsverzeichnis von Brenvolt und kann\r\nnicht über sich selbst installiert werden.\r\n\r\nKopieren Sie das Update-Paket in einen anderen Ordner und starten Sie es\r\ndort erneut. Die Installation ist unverändert.'
text_not_signed='Das Update-Paket ist nicht vom Hersteller signiert oder wurde nach dem\r\nSignieren verändert.\r\n\r\nDas Update wurde nicht installiert, die Installation ist unverändert.'
text_usage='Mögliche Schalter:\r\n/S  ohne Meldungen installieren, das Ergebnis steht im Exitcode\r\n/LOG=<Datei>  den Ablauf in die Datei schreiben'

scenarios=0
failed_scenarios=()
scenario=
problems=0
output=
driver_status=

problem() {
    echo "    FAIL: $*"
    problems=$((problems + 1))
}

# --- the world of one scenario

begin() {
    scenario="$1"
    problems=0
    scenarios=$((scenarios + 1))
    echo "-- $scenario"
    rm -rf "$drive_c/Brenvolt" "$drive_c/BrenvoltUser" "$drive_c/Patch" "$drive_c/Patch2" "$drive_c/Patch Logs"
    wine reg delete "HKLM\\SOFTWARE\\Quorvane Software" /f /reg:32 >/dev/null 2>&1
    wine reg delete "HKCU\\SOFTWARE\\Quorvane Software" /f /reg:32 >/dev/null 2>&1
    mkdir -p "$drive_c/Patch"
    cp "$update_exe" "$drive_c/Patch/Update.exe"
}

# An installation: the product executable and an old readme.
install() {
    mkdir -p "$drive_c/$1"
    echo "product" >"$drive_c/$1/BV.EXE"
    echo "old readme" >"$drive_c/$1/readme.txt"
}

# A package file: its path under the package and its content.
package_file() {
    mkdir -p "$(dirname "$drive_c/Patch/$1")"
    printf '%s\n' "$2" >"$drive_c/Patch/$1"
}

machine_value() {
    wine reg add "HKLM\\$key" /ve /d "$1" /f /reg:32 >/dev/null 2>&1 || problem "reg add HKLM failed"
}

user_value() {
    wine reg add "HKCU\\$key" /v '&AppPath' /d "$1" /f /reg:32 >/dev/null 2>&1 ||
        problem "reg add HKCU failed"
}

run_driver() {
    output="$(wine "$driver_exe" "$@" 2>/dev/null | tr -d '\r')"
    driver_status=${PIPESTATUS[0]}
}

run_update() {
    run_driver "$@" 'C:\Patch\Update.exe'
    [ "$driver_status" = 0 ] || problem "the driver exited with $driver_status"
}

# run_update_with [DRIVER OPTION]... -- [ARGUMENT]...: the arguments follow
# Update.exe on its command line as written (quotes included).
run_update_with() {
    local options=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    shift
    run_driver "${options[@]}" 'C:\Patch\Update.exe' "$@"
    [ "$driver_status" = 0 ] || problem "the driver exited with $driver_status"
}

# run_silent [DRIVER OPTION]... -- [ARGUMENT]...: a run that must show no box.
run_silent() { run_update_with --no-box --timeout 60 "$@"; }

# --- checks

expect() { # expect KEY VALUE: the driver reported exactly this line
    grep -Fxq -- "$1=$2" <<<"$output" ||
        problem "expected $1=$2, saw: $(grep -F -- "$1=" <<<"$output" | head -3 | tr '\n' ' ')"
}

expect_box() { # expect_box CAPTION ICON TEXT
    expect result ok
    expect boxes 1
    expect exit-code 0
    expect box1-caption "$1"
    expect box1-icon "$2"
    expect box1-text "$3"
}

expect_notes() {
    expect notepad-count 1
    expect notepad-command 'notepad.exe faq.txt'
    grep -Eq '^notepad-window=.*\|maximized$' <<<"$output" ||
        problem "Notepad shows no maximized window: $(grep notepad-window <<<"$output")"
}

# Notepad started in the package folder, where the notes are.
expect_notes_on_faq() {
    expect_notes
    grep -Eq '^notepad-window=faq\.txt - .*\|maximized$' <<<"$output" ||
        problem "Notepad does not show faq.txt: $(grep notepad-window <<<"$output")"
}

expect_no_notes() { expect notepad-count 0; }

# A silent run: no box, no Notepad, this exit code.
expect_silent() {
    expect result ok
    expect boxes 0
    expect exit-code "$1"
    expect_no_notes
}

# The log, in UTF-8, without the time stamps (checked on every line).
log_lines() {
    local log="$drive_c/$1"
    if [ ! -f "$log" ]; then
        problem "C:/$1 is missing"
        return
    fi
    iconv -f CP1252 -t UTF-8 "$log" | tr -d '\r' | while IFS= read -r line; do
        grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ' <<<"$line" ||
            echo "NO TIME STAMP: $line"
        printf '%s\n' "${line:20}"
    done
}

expect_log_line() { # expect_log_line LINES LINE: LINE is one of LINES
    grep -Fxq -- "$2" <<<"$1" || problem "no log line '$2' in: $(tr '\n' '|' <<<"$1")"
}

expect_file() { # expect_file PATH CONTENT (PATH under drive C:)
    if [ ! -f "$drive_c/$1" ]; then
        problem "C:/$1 is missing"
    elif [ "$(cat "$drive_c/$1")" != "$2" ]; then
        problem "C:/$1 holds '$(cat "$drive_c/$1")', expected '$2'"
    fi
}

expect_absent() { [ ! -e "$drive_c/$1" ] || problem "C:/$1 should not exist"; }

# No file of the run's own (.Update-*, the journal) is left in the directory.
expect_no_temporary_files() {
    local left
    left="$(ls -A "$drive_c/$1" 2>/dev/null | grep -E '^\.Update-|^\.Update\.journal$' | tr '\n' ' ')"
    [ -z "$left" ] || problem "temporary files left in C:/$1: $left"
}

end() {
    if [ "$problems" -gt 0 ]; then
        failed_scenarios+=("$scenario")
        echo "    driver output:"
        sed 's/^/      /' <<<"$output"
    fi
}

# --- the registry view of the installer

# A 32-bit installer's key lives in the 32-bit view; the 64-bit view has no
# such key, so Update.exe finding it proves that it reads the 32-bit view.
begin "registry written in the 32-bit view"
machine_value 'C:\Brenvolt'
wine reg query "HKLM\\SOFTWARE\\Wow6432Node\\Quorvane Software\\Brenvolt\\1.0" /ve /reg:64 >/dev/null 2>&1 ||
    problem "the value is not under Wow6432Node"
if wine reg query "HKLM\\$key" /ve /reg:64 >/dev/null 2>&1; then
    problem "the value is visible in the 64-bit view too; the view would not be tested"
fi
end

# --- the driver itself: a run without a message box fails, and never hangs

begin "driver: a program that ends without a message box fails"
run_driver 'C:\windows\system32\hostname.exe'
[ "$driver_status" = 2 ] || problem "the driver exited with $driver_status, expected 2"
expect boxes 0
expect result no-message-box
end

begin "driver: with --no-box, a message box is a failure"
package_file readme.txt "new readme"
run_driver --no-box 'C:\Patch\Update.exe'
[ "$driver_status" = 4 ] || problem "the driver exited with $driver_status, expected 4"
expect boxes 1
expect result message-box
end

begin "driver: a program that shows no message box is stopped at the timeout"
started=$(date +%s)
run_driver --timeout 3 'C:\windows\system32\notepad.exe'
[ "$driver_status" = 2 ] || problem "the driver exited with $driver_status, expected 2"
[ $(($(date +%s) - started)) -lt 20 ] || problem "the driver took longer than 20 s"
expect boxes 0
expect result no-message-box
end

# --- scenarios

begin "found under HKEY_LOCAL_MACHINE"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
package_file faq.txt "notes"
run_update_with --progress --
expect_box Info information "$(text_done 2)"
expect progress-window none # done within the second: the box alone
expect_notes_on_faq
expect_file Brenvolt/readme.txt "new readme"
expect_file Brenvolt/faq.txt "notes"
expect_absent Brenvolt/Update.exe
expect_no_temporary_files Brenvolt
end

begin "found only under HKEY_CURRENT_USER (&AppPath)"
install BrenvoltUser
user_value 'C:\BrenvoltUser'
package_file readme.txt "new readme"
run_update
expect_box Info information "$(text_done 1)"
expect_notes
expect_file BrenvoltUser/readme.txt "new readme"
end

begin "empty value under HKEY_LOCAL_MACHINE falls through to HKEY_CURRENT_USER"
install BrenvoltUser
machine_value ''
user_value 'C:\BrenvoltUser'
package_file readme.txt "new readme"
run_update
expect_box Info information "$(text_done 1)"
expect_file BrenvoltUser/readme.txt "new readme"
end

begin "directory without BV.EXE under HKEY_LOCAL_MACHINE falls through"
mkdir -p "$drive_c/Brenvolt"
install BrenvoltUser
machine_value 'C:\Brenvolt'
user_value 'C:\BrenvoltUser'
package_file readme.txt "new readme"
run_update
expect_box Info information "$(text_done 1)"
expect_file BrenvoltUser/readme.txt "new readme"
expect_absent Brenvolt/readme.txt
end

begin "found nowhere"
package_file readme.txt "new readme"
run_update
expect_box Error warning "$text_not_found"
expect_no_notes
end

begin "product running (BV.EXE held open without sharing)"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_update --hold 'C:\Brenvolt\BV.EXE'
expect hold 'C:\\Brenvolt\\BV.EXE|ok'
expect_box Error warning "$text_running"
expect_no_notes
expect_file Brenvolt/readme.txt "old readme"
end

begin "BV.EXE is a directory (cannot be opened for another reason)"
mkdir -p "$drive_c/Brenvolt/BV.EXE"
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_update
expect_box Error warning "$text_cannot_open"
expect_no_notes
expect_absent Brenvolt/readme.txt
end

for directory in 'C:\Brenvolt\' 'C:/Brenvolt/'; do
    begin "installation directory ending in a separator: $directory"
    install Brenvolt
    machine_value "$directory"
    package_file readme.txt "new readme"
    package_file Data/map.dat "map"
    run_update
    expect_box Info information "$(text_done 2)"
    expect_file Brenvolt/readme.txt "new readme"
    expect_file Brenvolt/Data/map.dat "map"
    end
done

begin "nested subdirectories, counted by files"
install Brenvolt
mkdir -p "$drive_c/Brenvolt/Data"
echo "old map" >"$drive_c/Brenvolt/Data/map.dat"
machine_value 'C:\Brenvolt'
package_file Data/map.dat "new map"
package_file Data/Levels/one.lvl "one"
package_file Data/Levels/two.lvl "two"
package_file Data/Levels/Deep/er/three.lvl "three"
package_file Help/index.htm "index"
mkdir -p "$drive_c/Patch/Empty/Dir"
run_update
expect_box Info information "$(text_done 5)"
expect_notes
expect_file Brenvolt/Data/map.dat "new map"
expect_file Brenvolt/Data/Levels/one.lvl "one"
expect_file Brenvolt/Data/Levels/two.lvl "two"
expect_file Brenvolt/Data/Levels/Deep/er/three.lvl "three"
expect_file Brenvolt/Help/index.htm "index"
[ -d "$drive_c/Brenvolt/Empty/Dir" ] || problem "the empty directory was not created"
end

# A folder of the installation that is a symbolic link is not entered. Wine 8
# makes no links itself (mklink fails); it shows a Unix link to a folder as a
# reparse point, which is what Windows shows for a junction or folder link.
begin "linked folder in the installation is not written through"
install Brenvolt
rm -rf "$drive_c/Elsewhere"
mkdir -p "$drive_c/Elsewhere"
echo "precious" >"$drive_c/Elsewhere/map.dat"
ln -s "$drive_c/Elsewhere" "$drive_c/Brenvolt/Data"
machine_value 'C:\Brenvolt'
package_file Data/map.dat "new map"
package_file Data/Deep/x.txt "x"
package_file top.txt "top"
run_update
expect_box Error warning "$(text_not_installed_only_folders 1)"
expect_file Elsewhere/map.dat "precious"
expect_absent Elsewhere/Deep
expect_absent Brenvolt/top.txt
expect_no_temporary_files Brenvolt
rm -rf "$drive_c/Elsewhere"
end

begin "the registry names the package's own folder: its own box, nothing touched"
package_file BV.EXE "product"
package_file data.txt "data"
wine attrib +r 'C:\Patch\BV.EXE' >/dev/null 2>&1
machine_value 'C:\Patch'
run_update_with --attributes 'C:\Patch\BV.EXE' --
expect_box Error warning "$text_package_is_installation"
expect_no_notes
expect attributes-after 'C:\\Patch\\BV.EXE|0x21' # read-only still: not even probed
run_silent -- /S
expect_silent 82
expect_file Patch/data.txt "data"
expect_no_temporary_files Patch
end

begin "Update.exe in several cases of letters at several depths"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file UPDATE.EXE.txt "not the program"
package_file Tools/UPDATE.EXE "upper"
package_file Tools/Deep/update.exe "lower"
package_file Tools/Deep/uPdAtE.ExE "mixed"
package_file Tools/tool.dll "tool"
run_update
expect_box Info information "$(text_done 2)"
expect_file Brenvolt/UPDATE.EXE.txt "not the program"
expect_file Brenvolt/Tools/tool.dll "tool"
expect_absent Brenvolt/Update.exe
expect_absent Brenvolt/Tools/UPDATE.EXE
expect_absent Brenvolt/Tools/Deep/update.exe
[ -d "$drive_c/Brenvolt/Tools/Deep" ] || problem "Tools/Deep was not created"
[ -z "$(ls -A "$drive_c/Brenvolt/Tools/Deep" 2>/dev/null)" ] || problem "Tools/Deep is not empty"
end

begin "dot files and dot directories"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file .env "secret"
package_file .git/config "config"
package_file Data/.cache/blob "blob"
package_file Data/.hidden "hidden"
package_file Data/visible.txt "visible"
run_update
expect_box Info information "$(text_done 1)"
expect_file Brenvolt/Data/visible.txt "visible"
expect_absent Brenvolt/.env
expect_absent Brenvolt/.git
expect_absent Brenvolt/Data/.cache
expect_absent Brenvolt/Data/.hidden
end

begin "empty package (only Update.exe)"
install Brenvolt
machine_value 'C:\Brenvolt'
run_update
expect_box Info information "$(text_done 0)"
expect_notes
expect_file Brenvolt/readme.txt "old readme"
end

begin "target file that cannot be overwritten (held open without sharing)"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
package_file other.txt "other"
run_update --hold 'C:\Brenvolt\readme.txt'
expect hold 'C:\\Brenvolt\\readme.txt|ok'
expect_box Error warning "$(text_not_installed 1)"
expect_no_notes
expect_file Brenvolt/readme.txt "old readme"
expect_absent Brenvolt/other.txt
expect_no_temporary_files Brenvolt
end

begin "locked target leaves the whole installation unchanged; nothing of the run is left behind"
install Brenvolt
machine_value 'C:\Brenvolt'
mkdir -p "$drive_c/Brenvolt/Data"
echo "old map" >"$drive_c/Brenvolt/Data/map.dat"
package_file Data/map.dat "new map"
package_file Data/other.dat "other"
package_file New/made.dat "made"
package_file readme.txt "new readme"
run_update --hold 'C:\Brenvolt\Data\map.dat'
expect hold 'C:\\Brenvolt\\Data\\map.dat|ok'
expect_box Error warning "$(text_not_installed 1)"
expect_no_notes
expect_file Brenvolt/Data/map.dat "old map"
expect_absent Brenvolt/Data/other.dat
expect_absent Brenvolt/New
expect_file Brenvolt/readme.txt "old readme"
expect_no_temporary_files Brenvolt/Data
expect_no_temporary_files Brenvolt
end

begin "a run stopped between the two renames of BV.EXE is repaired by the next run"
# The journal, the old BV.EXE under its backup name, the new one staged, and
# no BV.EXE: the next run finds the installation by its journal, puts the
# old product back, then installs.
install Brenvolt
machine_value 'C:\Brenvolt'
mv "$drive_c/Brenvolt/BV.EXE" "$drive_c/Brenvolt/.Update-0000BEEF-00000000.old"
echo "new product" >"$drive_c/Brenvolt/.Update-0000BEEF-00000000.tmp"
printf 'Brenvolt-Update-Journal 0000BEEF\r\nR BV.EXE\r\nC\r\n' >"$drive_c/Brenvolt/.Update.journal"
package_file readme.txt "new readme"
run_update
expect_box Info information "$(text_done 1)"
expect_file Brenvolt/BV.EXE "product"
expect_file Brenvolt/readme.txt "new readme"
expect_no_temporary_files Brenvolt
end

begin "read-only temporary file of a stopped run is removed by the next run"
install Brenvolt
machine_value 'C:\Brenvolt'
echo "half a readme" >"$drive_c/Brenvolt/.Update-0000BEEF.tmp"
wine attrib +r 'C:\Brenvolt\.Update-0000BEEF.tmp' >/dev/null 2>&1
package_file readme.txt "new readme"
run_update
expect_box Info information "$(text_done 1)"
expect_file Brenvolt/readme.txt "new readme"
expect_no_temporary_files Brenvolt
end

begin "two runs at once: the second waits for the first, the installation ends as the second package has it"
install Brenvolt
machine_value 'C:\Brenvolt'
mkdir -p "$drive_c/Patch2"
cp "$update_exe" "$drive_c/Patch2/Update.exe"
# The first package takes long to copy: a large file and many small ones.
head -c $((512 << 20)) /dev/zero >"$drive_c/Patch/big.dat"
mkdir -p "$drive_c/Patch/Many" "$drive_c/Patch2/Many"
for i in $(seq 1 400); do
    echo "first" >"$drive_c/Patch/Many/f$i.txt"
    echo "second" >"$drive_c/Patch2/Many/f$i.txt"
done
echo "second big" >"$drive_c/Patch2/big.dat"
package_file readme.txt "first readme"
printf 'second readme\n' >"$drive_c/Patch2/readme.txt"
first_output="$drive_c/first-output.txt"
(wine "$driver_exe" 'C:\Patch\Update.exe' 2>/dev/null | tr -d '\r' >"$first_output") &
first_run=$!
for _ in $(seq 1 1200); do
    [ -e "$drive_c/Brenvolt/.Update.lock" ] || ! kill -0 "$first_run" 2>/dev/null && break
    sleep 0.1
done
if [ -e "$drive_c/Brenvolt/.Update.lock" ] && kill -0 "$first_run" 2>/dev/null; then
    run_driver 'C:\Patch2\Update.exe'
    [ "$driver_status" = 0 ] || problem "the driver of the second run exited with $driver_status"
    expect_box Info information "$(text_done 402)"
else
    problem "the first run was not seen holding the lock"
fi
wait "$first_run"
output="$(cat "$first_output")"
expect_box Info information "$(text_done 402)"
rm -f "$first_output"
expect_file Brenvolt/readme.txt "second readme"
expect_file Brenvolt/big.dat "second big"
mixed="$(grep -L '^second$' "$drive_c"/Brenvolt/Many/f*.txt | wc -l)"
[ "$mixed" = 0 ] || problem "$mixed files of Many are not the second package's"
expect_absent Brenvolt/.Update.lock
expect_no_temporary_files Brenvolt
expect_no_temporary_files Brenvolt/Many
end

# Wine as an ordinary user refuses to write a read-only file, as Windows
# does; the update replaces it all the same, and again next time.
begin "read-only installation updated twice"
install Brenvolt
machine_value 'C:\Brenvolt'
wine attrib +r 'C:\Brenvolt\readme.txt' >/dev/null 2>&1
package_file readme.txt "new readme"
package_file other.txt "other"
run_update
expect_box Info information "$(text_done 2)"
expect_file Brenvolt/readme.txt "new readme"
wine attrib +r 'C:\Brenvolt\readme.txt' >/dev/null 2>&1
wine attrib +r 'C:\Brenvolt\other.txt' >/dev/null 2>&1
package_file readme.txt "newer readme"
run_update
expect_box Info information "$(text_done 2)"
expect_file Brenvolt/readme.txt "newer readme"
expect_no_temporary_files Brenvolt
end

begin "a scanner opening each file written or renamed, sharing nothing: kept out of the run's files, the update goes in whole"
install Brenvolt
machine_value 'C:\Brenvolt'
mkdir -p "$drive_c/Brenvolt/Data"
for i in 1 2 3 4 5 6; do
    echo "old $i" >"$drive_c/Brenvolt/Data/f$i.dat"
    package_file "Data/f$i.dat" "new $i"
done
package_file readme.txt "new readme"
run_update_with --scan 'C:\Brenvolt' --
expect scan ok
expect_box Info information "$(text_done 7)"
for i in 1 2 3 4 5 6; do expect_file "Brenvolt/Data/f$i.dat" "new $i"; done
expect_file Brenvolt/readme.txt "new readme"
# Each file the run writes or renames is the run's from then on.
grep -q '^refused=[1-9]' <<<"$output" || problem "the scanner was refused no file"
expect_no_temporary_files Brenvolt/Data
expect_no_temporary_files Brenvolt
end

begin "a reader who comes once the commit has begun, without sharing deletion, is kept out: the update goes in whole"
install Brenvolt
machine_value 'C:\Brenvolt'
mkdir -p "$drive_c/Brenvolt/Data"
for i in $(seq 101 300); do
    echo "old $i" >"$drive_c/Brenvolt/Data/f$i.dat"
    package_file "Data/f$i.dat" "new $i"
done
package_file readme.txt "new readme"
# The last file of its folder to be put in place: still the installed one
# when the first backup shows, and held by the run either way.
run_update_with --hold-at-commit 'C:\Brenvolt\Data\f300.dat' --
expect hold-at-commit 'C:\\Brenvolt\\Data\\f300.dat|error 32'
expect_box Info information "$(text_done 201)"
for i in $(seq 101 300); do expect_file "Brenvolt/Data/f$i.dat" "new $i"; done
expect_file Brenvolt/readme.txt "new readme"
expect_no_temporary_files Brenvolt/Data
expect_no_temporary_files Brenvolt
end

begin "read-only and hidden attributes of BV.EXE cleared"
install Brenvolt
machine_value 'C:\Brenvolt'
# One flag per call: Wine's attrib applies only the last of several. Hidden
# first: Wine keeps it in an extended attribute, which an ordinary user can no
# longer write once the file is read-only.
wine attrib +h 'C:\Brenvolt\BV.EXE' >/dev/null 2>&1
wine attrib +r 'C:\Brenvolt\BV.EXE' >/dev/null 2>&1
run_update --attributes 'C:\Brenvolt\BV.EXE'
expect attributes-before 'C:\\Brenvolt\\BV.EXE|0x23' # archive, hidden, read-only
expect attributes-after 'C:\\Brenvolt\\BV.EXE|0x20'
expect_box Info information "$(text_done 0)"
end

# --- unattended runs: /S shows nothing and tells by its exit code

# --- the progress window of a long update

# The bar's positions as the driver saw them: more than one, each larger.
expect_growing_bar() {
    local positions previous=-1 position
    positions=$(sed -n 's/^progress-positions=//p' <<<"$output")
    [ "$(tr ',' '\n' <<<"$positions" | wc -l)" -ge 2 ] || problem "the bar did not move: '$positions'"
    for position in ${positions//,/ }; do
        [ "$position" -gt "$previous" ] || problem "the bar went back: $positions"
        previous=$position
    done
}

# 480 MB in files of 4 MB. Not one large file: Wine 8 does not call
# CopyFileExA's progress routine, so there the window moves and answers
# between files only. Such a copy may take less than the second after which
# the window shows, so these runs show it at once
# (UPDATE_PROGRESS_DELAY_MS=0).
long_package() {
    install Brenvolt
    machine_value 'C:\Brenvolt'
    package_file readme.txt "new readme"
    mkdir -p "$drive_c/Patch/Data"
    for i in $(seq 100 219); do truncate -s 4M "$drive_c/Patch/Data/big$i.dat"; done
}

begin "long update: the progress window, its bar growing, answering"
long_package
UPDATE_PROGRESS_DELAY_MS=0 run_update_with --progress --timeout 300 --
expect_box Info information "$(text_done 121)"
expect progress-window found
expect progress-caption Brenvolt-Update
expect progress-unanswered 0
expect_growing_bar
grep -q '^progress-window-with-box=' <<<"$output" && problem "the window was still shown with the box"
expect_file Brenvolt/readme.txt "new readme"
[ "$(stat -c %s "$drive_c/Brenvolt/Data/big219.dat" 2>/dev/null)" = $((4 << 20)) ] || problem "big219.dat not installed whole"
expect_no_temporary_files Brenvolt/Data
end

begin "long update: Abbrechen (BM_CLICK) leaves the installation unchanged"
long_package
UPDATE_PROGRESS_DELAY_MS=0 run_update_with --cancel-at 20 --timeout 300 --
expect_box Info information 'Das Update wurde abgebrochen.\r\nDie Installation ist unverändert.'
expect progress-window found
grep -Eq '^progress-clicked-at=([2-9][0-9])$' <<<"$output" || problem "Abbrechen was not clicked"
expect_no_notes
expect_file Brenvolt/readme.txt "old readme"
expect_absent Brenvolt/Data
expect_no_temporary_files Brenvolt
end

begin "/S: installed completely (exit code 0)"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
package_file faq.txt "notes"
run_silent -- /S
expect_silent 0
expect_file Brenvolt/readme.txt "new readme"
expect_file Brenvolt/faq.txt "notes"
expect_absent Brenvolt/Update.exe
end

begin "/S: found nowhere (exit code 2)"
package_file readme.txt "new readme"
run_silent -- -s
expect_silent 2
end

begin "/S: product running (exit code 32)"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_silent --hold 'C:\Brenvolt\BV.EXE' -- /s
expect_silent 32
expect_file Brenvolt/readme.txt "old readme"
end

begin "/S: BV.EXE cannot be opened (exit code 110)"
mkdir -p "$drive_c/Brenvolt/BV.EXE"
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_silent -- -S
expect_silent 110
expect_absent Brenvolt/readme.txt
end

begin "/S: not installed, the installation unchanged (exit code 82)"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
package_file other.txt "other"
run_silent --hold 'C:\Brenvolt\readme.txt' -- /S
expect_silent 82
expect_file Brenvolt/readme.txt "old readme"
expect_absent Brenvolt/other.txt
end

# C:\Small: a 1 MB tmpfs where scripts/test-windows.sh could mount one. The
# package needs 3 MB (2 MB and a cluster each for readme.txt and the journal).
if mountpoint -q "$drive_c/Small"; then
    begin "package larger than the volume: refused before anything is written (box; 112 with /S)"
    find "$drive_c/Small" -mindepth 1 -delete
    install Small/Brenvolt
    machine_value 'C:\Small\Brenvolt'
    head -c $((2 << 20)) /dev/zero >"$drive_c/Patch/big.dat"
    package_file readme.txt "new readme"
    run_update
    expect_box Error warning 'Auf dem Laufwerk ist nicht genug Platz für das Update: 3 MB werden gebraucht, 0 MB sind frei.\r\n\r\nDas Update wurde nicht installiert, die Installation ist unverändert.'
    run_silent -- /S
    expect_silent 112
    expect_file Small/Brenvolt/readme.txt "old readme"
    expect_no_temporary_files Small/Brenvolt
    end
else
    echo "-- package larger than the volume: SKIPPED (no small volume as C:\Small: mounting one needs root)"
fi

begin "/LOG= in a folder with a blank: every step, a failed file with its error"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
package_file Data/map.dat "map"
mkdir -p "$drive_c/Patch Logs"
run_silent --hold 'C:\Brenvolt\readme.txt' -- /S '/LOG="C:\Patch Logs\update log.txt"'
expect_silent 82
lines="$(log_lines 'Patch Logs/update log.txt')"
[ "$(wc -l <<<"$lines")" = 7 ] || problem "expected 7 log lines, saw: $(tr '\n' '|' <<<"$lines")"
expect_log_line "$lines" 'Brenvolt-Update 1.0.0.0 gestartet; Paket: C:\Patch\; Befehlszeile: /S /LOG="C:\Patch Logs\update log.txt"'
expect_log_line "$lines" 'Installation gefunden unter HKEY_LOCAL_MACHINE: C:\Brenvolt'
expect_log_line "$lines" 'Paket nicht geprüft, es hat keine Dateiliste: C:\Patch\.Update.sha256'
expect_log_line "$lines" 'Kopiert: C:\Brenvolt\Data\map.dat'
# Held for good, it is waited for a while, and the wait is told.
grep -Eq '^Von einem anderen Programm belegt, nach 2000 ms aufgegeben: C:\\Brenvolt\\readme\.txt \(Fehler 32: [^)]+\)$' <<<"$lines" ||
    problem "no line for the wait on readme.txt: $(tr '\n' '|' <<<"$lines")"
grep -Eq '^Nicht kopiert: C:\\Brenvolt\\readme\.txt \(Fehler 32: [^)]+\)$' <<<"$lines" ||
    problem "no line for readme.txt with error 32 and its text: $(tr '\n' '|' <<<"$lines")"
[ "$(tail -n 1 <<<"$lines")" = 'Ergebnis: Das Update wurde nicht installiert, die Installation wurde wiederhergestellt; 1 Dateien nicht kopiert, 0 Ordner nicht gelesen oder angelegt; Exitcode 82' ] ||
    problem "last log line: $(tail -n 1 <<<"$lines")"
grep -q 'NO TIME STAMP' <<<"$lines" && problem "log lines without a time stamp"
end

begin "/LOG= in a folder that does not exist: the update still runs (exit code 29)"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_silent -- /S '/LOG=C:\Missing\update.log'
expect_silent 29
expect_file Brenvolt/readme.txt "new readme"
expect_absent Missing
end

begin "/? without /S: the switches in a box, exit code 0, nothing touched"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
wine attrib +r 'C:\Brenvolt\BV.EXE' >/dev/null 2>&1
run_update_with --attributes 'C:\Brenvolt\BV.EXE' -- '/LOG=C:\Patch\update.log' '/?'
expect_box Info information "$text_usage"
expect_no_notes
expect attributes-after 'C:\\Brenvolt\\BV.EXE|0x21' # read-only still: not even probed
expect_file Brenvolt/readme.txt "old readme"
expect_absent Patch/update.log
end

begin "unknown word without /S: passed over, and the update runs"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_update_with -- /Silent '/LOG=C:\Patch\update.log'
expect_box Info information "$(text_done 1)"
expect_file Brenvolt/readme.txt "new readme"
expect_log_line "$(log_lines Patch/update.log)" 'Angabe der Befehlszeile übergangen: /Silent'
end

begin "unknown switch with /S: no box, exit code 87"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file readme.txt "new readme"
run_silent -- /S /X
expect_silent 87
expect_file Brenvolt/readme.txt "old readme"
end

# --- the package's manifest, written by sha256sum: the hashes of bcrypt.dll
# under Wine must equal them

# The manifest of the package as it is now.
manifest() {
    (cd "$drive_c/Patch" && sha256sum Update.exe faq.txt Data/map.dat >.Update.sha256)
}

begin "package with a manifest that matches: installed, notes opened"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file faq.txt "notes"
package_file Data/map.dat "new map"
manifest
package_file Thumbs.db "not listed"
run_update
expect_box Info information "$(text_done 2)"
expect_notes_on_faq
expect_file Brenvolt/Data/map.dat "new map"
expect_absent Brenvolt/Thumbs.db
end

begin "package with a file changed after its manifest: refused, installation unchanged"
install Brenvolt
machine_value 'C:\Brenvolt'
package_file faq.txt "notes"
package_file readme.txt "new readme"
package_file Data/map.dat "new map"
(cd "$drive_c/Patch" && sha256sum Update.exe faq.txt readme.txt Data/map.dat >.Update.sha256)
package_file Data/map.dat "new maP"
run_update
expect_box Error warning "$(text_damaged 1)"
expect_no_notes
expect_file Brenvolt/readme.txt "old readme"
expect_absent Brenvolt/Data
expect_no_temporary_files Brenvolt
end

# --- the signed manifest: the program with the test's keys built in checks
# the signature through Wine's bcrypt (ECDSA P-256, through GnuTLS)

# The package signed with a key (first, second, other) by the openssl
# command line.
sign() {
    (cd "$drive_c/Patch" && openssl dgst -sha256 -sign "$keys/$1.pem" .Update.sha256 |
        openssl base64 -A >.Update.sha256.sig) || problem "openssl could not sign"
}

# A signed package: the program with the test's keys, a new readme and map.
signed_package() {
    install Brenvolt
    machine_value 'C:\Brenvolt'
    cp "$signed_exe" "$drive_c/Patch/Update.exe"
    package_file faq.txt "notes"
    package_file readme.txt "new readme"
    package_file Data/map.dat "new map"
    (cd "$drive_c/Patch" && sha256sum Update.exe faq.txt readme.txt Data/map.dat >.Update.sha256)
    sign first
}

# signed_vector WHAT EXIT-CODE CHANGE...: a silent run on the signed package
# after the change (a shell command), with its exit code; 577 and 23 leave
# the installation as it was.
signed_vector() {
    local what="$1" code="$2"
    shift 2
    signed_package
    eval "$*"
    run_silent -- /S '/LOG="C:\Patch Logs\signed.log"'
    grep -Fxq "exit-code=$code" <<<"$output" ||
        problem "$what: expected exit code $code, saw $(grep -F exit-code= <<<"$output")"
    if [ "$code" = 0 ]; then
        [ "$(cat "$drive_c/Brenvolt/readme.txt")" = "new readme" ] || problem "$what: not installed"
    else
        [ "$(cat "$drive_c/Brenvolt/readme.txt")" = "old readme" ] || problem "$what: installed"
        [ ! -e "$drive_c/Brenvolt/Data" ] || problem "$what: Data made"
        expect_no_temporary_files Brenvolt
    fi
    rm -rf "$drive_c/Brenvolt" "$drive_c/Patch"
    mkdir -p "$drive_c/Patch"
}

if [ -n "$signed_exe" ]; then
    begin "signed manifest: each change after signing refused with 577, through Wine's bcrypt"
    mkdir -p "$drive_c/Patch Logs"
    signed_vector "signed by the first key" 0 :
    id=$(openssl pkey -pubin -in "$keys/first.pub" -outform DER | sha256sum | cut -c1-16)
    expect_log_line "$(log_lines 'Patch Logs/signed.log')" "Dateiliste signiert, geprüft mit dem Schlüssel $id: C:\Patch\.Update.sha256.sig"
    signed_vector "signed by the second key" 0 sign second
    signed_vector "no signature" 577 rm '"$drive_c/Patch/.Update.sha256.sig"'
    signed_vector "a byte of the signature flipped" 577 \
        'sig=$(cat "$drive_c/Patch/.Update.sha256.sig"); c=${sig: -8:1}; [ "$c" = A ] && n=B || n=A; printf %s "${sig:0:${#sig}-8}$n${sig: -7}" >"$drive_c/Patch/.Update.sha256.sig"'
    signed_vector "signed by another key" 577 sign other
    signed_vector "a file line edited" 577 \
        'sed -i "/  faq.txt\$/{s/^0/1/;t;s/^./0/}" "$drive_c/Patch/.Update.sha256"'
    signed_vector "a line dropped" 577 'sed -i "/  faq.txt\$/d" "$drive_c/Patch/.Update.sha256"'
    signed_vector "a line added" 577 \
        'package_file extra.txt x; (cd "$drive_c/Patch" && sha256sum extra.txt >>.Update.sha256)'
    signed_vector "a file changed after signing" 23 'package_file Data/map.dat "new maP"'
    rm -rf "$drive_c/Patch Logs"
    end

    begin "signed manifest: a signed package installed, then a changed one refused with its box"
    signed_package
    run_update
    expect_box Info information "$(text_done 3)"
    expect_notes_on_faq
    expect_file Brenvolt/readme.txt "new readme"
    rm -rf "$drive_c/Brenvolt" "$drive_c/Patch"
    mkdir -p "$drive_c/Patch"
    signed_package
    printf '\n' >>"$drive_c/Patch/.Update.sha256"
    run_update
    expect_box Error warning "$text_not_signed"
    expect_no_notes
    expect_file Brenvolt/readme.txt "old readme"
    expect_absent Brenvolt/Data
    expect_no_temporary_files Brenvolt
    end
else
    echo "-- signed manifest: SKIPPED (no program with the test's keys given)"
fi

echo
if [ ${#failed_scenarios[@]} -gt 0 ]; then
    echo "${#failed_scenarios[@]} of $scenarios Wine scenarios failed:"
    printf '  %s\n' "${failed_scenarios[@]}"
    exit 1
fi
echo "all $scenarios Wine scenarios passed"
