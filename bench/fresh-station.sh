# Sourced by the benchmark scripts: fresh_station DIR makes DIR a fresh station (incoming,
# raw archive and image directories, settings with JPEG images and nothing else kept, its own
# state) and points this shell's XDG directories at it.
fresh_station() {
  local dir="$1"
  mkdir -p "$dir/incoming" "$dir/raw" "$dir/images" "$dir/config/Quillon" "$dir/state"
  cat > "$dir/config/Quillon/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]
"SourcePath"="$dir/incoming/"
"NetCDFPath"="$dir/raw/"
"SavePath"="$dir/images/"
REG
  export XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state" QT_QPA_PLATFORM=offscreen
}
