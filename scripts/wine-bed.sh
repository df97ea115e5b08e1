#!/usr/bin/env bash
# Runs Wine's loader in the bed: what wine_env_init sets $WINE to. Outside the
# office bed it runs in a private mount namespace where every narrow face is an
# empty file and fontconfig keeps its cache in the build tree; nothing outside
# that namespace sees the mounts. Wine gets the bed's locale, the caller's
# tools keep theirs.
# Usage: wine-bed.sh WINE_ARGUMENTS...
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
: "${WINELOADER:?wine-bed.sh runs as \$WINE, set by wine_env_init}" "${VELQUOR_BED_DIR:?set by wine_env_init}"

run_wine() {
  local locale
  locale=$(wine_bed_locale)
  exec env -u LANGUAGE -u VELQUOR_BED_STAGE LANG="$locale" LC_ALL="$locale" "$WINELOADER" "$@"
}

# Inside the new namespace: hide the faces, then run Wine (as the caller's
# own user again when the namespace needed a user namespace of its own).
hide_narrow_faces() {
  local empty=$VELQUOR_BED_DIR/empty cache=$VELQUOR_BED_DIR/fontconfig-cache file
  while IFS= read -r file; do
    mount --bind "$empty" "$file"
  done < <(wine_narrow_face_files)
  [ ! -d /var/cache/fontconfig ] || mount --bind "$cache" /var/cache/fontconfig
}

if [ "$(wine_bed)" = office ]; then
  run_wine "$@"
elif [ "${VELQUOR_BED_STAGE:-}" = hidden ]; then
  hide_narrow_faces
  if [ -n "${VELQUOR_BED_UID:-}" ]; then
    export VELQUOR_BED_STAGE=user
    exec unshare --user --map-user="$VELQUOR_BED_UID" --map-group="$VELQUOR_BED_GID" -- "$0" "$@"
  fi
  run_wine "$@"
elif [ "${VELQUOR_BED_STAGE:-}" = user ]; then
  unset VELQUOR_BED_UID VELQUOR_BED_GID
  run_wine "$@"
else
  mkdir -p "$VELQUOR_BED_DIR/fontconfig-cache"
  : >"$VELQUOR_BED_DIR/empty"
  export VELQUOR_BED_STAGE=hidden
  as_root=()
  if [ "$(id -u)" != 0 ]; then
    as_root=(--user --map-root-user)
    export VELQUOR_BED_UID VELQUOR_BED_GID
    VELQUOR_BED_UID=$(id -u) VELQUOR_BED_GID=$(id -g)
  fi
  # Needs root, or user namespaces for anyone else.
  exec unshare --mount --propagation private "${as_root[@]}" -- "$0" "$@"
fi
