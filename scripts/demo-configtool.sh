#!/usr/bin/env bash
# Shows configtool at work on sample files in a temporary folder: an xinetd service file and a
# service manager's property list, each shown before and after every edit.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
tool=$build/configtool/configtool
[ -x "$tool" ] || { echo "configtool is not built: $tool" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'service tftp\n{\n\tdisable\t\t= yes\n\tsocket_type\t= dgram\n\tprotocol\t= udp\n\twait\t\t= yes\n\tuser\t\t= root\n\tserver\t\t= /usr/sbin/in.tftpd\n\tserver_args\t= -s /private/tftpboot\n}\n' >tftp
cat >tftp.plist <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>Disabled</key>
	<true/>
	<key>Label</key>
	<string>com.apple.tftpd</string>
	<key>ProgramArguments</key>
	<array>
		<string>/usr/libexec/tftpd</string>
		<string>-i</string>
		<string>/private/tftpboot</string>
	</array>
</dict>
</plist>
EOF

# Runs configtool on a copy of the file and shows the command, its output, its exit status and
# what changed.
run() {
  local file=$1
  cp -p "$file" "$file.before"
  echo
  echo "\$ configtool $*"
  local out status=0
  out=$("$tool" "$@") || status=$?
  echo "standard output: \"$out\"   exit status: $status"
  diff -u --label "$file (before)" --label "$file (after)" "$file.before" "$file" || true
  rm -f "$file.before"
}

echo "== xinetd service file, before:"
cat tftp
run tftp disable no yes
run tftp server_args /srv/tftp /private/tftpboot
run tftp no_such_parameter x y

echo
echo "== property list, before:"
cat tftp.plist
run tftp.plist ProgramArguments /srv/tftp
run tftp.plist ProgramArguments
echo
echo "(a second fix finds no \"-i\": no output, no write)"
run tftp.plist ProgramArguments

echo
echo "== errors"
echo "\$ configtool tftp"
"$tool" tftp || echo "exit status: $?"
echo "\$ configtool missing.conf disable no yes"
"$tool" missing.conf disable no yes || echo "exit status: $?"
