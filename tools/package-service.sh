#!/usr/bin/env bash
# Makes the link service's Debian package: dist/orvane-link-service_<version>_amd64.deb and
# dist/SHA256SUMS-service.
#
#   bash tools/package-service.sh [--out DIR] [--build-dir DIR] [--program FILE]
#
# --out        where the package goes (default dist/)
# --build-dir  where the program is built (default build/package-service; Release, no tests)
# --program    package this already built program instead of building one (the tests do)
# The same commit gives the same bytes in any folder: dates are the commit's (SOURCE_DATE_EPOCH when
# set), owners root, files in sorted order, modes set here rather than taken from the checkout.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
packaging=$root/server/packaging
out=$root/dist
build=$root/build/package-service
program=
usage() {
    echo "usage: $0 [--out DIR] [--build-dir DIR] [--program FILE]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case $1 in
    --out) out=$2 ;;
    --build-dir) build=$2 ;;
    --program) program=$2 ;;
    *) usage ;;
    esac
    shift 2
done
version=$(sed -n 's/^project(OrvaneLinkService VERSION \([0-9.]*\) .*/\1/p' "$root/server/CMakeLists.txt")
[ -n "$version" ] || { echo "$0: no version in server/CMakeLists.txt" >&2; exit 1; }
commit=$(git -C "$root" rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
export TZ=UTC LC_ALL=C.UTF-8

if [ -z "$program" ]; then
    cmake -S "$root/server" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_SERVICE_TESTS=OFF \
        -DORVANE_GIT_COMMIT="$commit" >/dev/null
    cmake --build "$build" -j 2 --target orvane-link-service >/dev/null
    program=$build/orvane-link-service
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
tree=$stage/tree
umask 022
install -d "$tree/DEBIAN" "$tree/usr/bin" "$tree/lib/systemd/system" "$tree/etc/orvane-link-service" \
    "$tree/usr/lib/orvane-link-service" "$tree/usr/share/doc/orvane-link-service/examples" \
    "$tree/var/lib/orvane-link-service" "$tree/var/backups/orvane-link-service"
install -m 755 -s "$program" "$tree/usr/bin/orvane-link-service"
install -m 644 "$packaging/orvane-link-service.service" "$packaging/orvane-link-service@.service" \
    "$tree/lib/systemd/system/"
# The example configuration; postinst makes it root:orvane-link 640 once the group exists.
install -m 640 "$packaging/orvane-link-service.conf" "$tree/etc/orvane-link-service/"
install -m 755 "$packaging/certbot-deploy-hook" "$tree/usr/lib/orvane-link-service/"
install -m 644 "$root/docs/running-the-service.md" "$root/docs/link-service.md" "$root/docs/game-server.md" \
    "$tree/usr/share/doc/orvane-link-service/"
install -m 644 "$packaging/nginx-orvane-link-service.conf" "$packaging/nginx-orvane-link-service-instances.conf" \
    "$tree/usr/share/doc/orvane-link-service/examples/"
install -m 644 "$packaging/debian/conffiles" "$tree/DEBIAN/"
install -m 755 "$packaging/debian/postinst" "$packaging/debian/prerm" "$packaging/debian/postrm" "$tree/DEBIAN/"

# The libraries the program needs, as Debian names their packages on this release.
mkdir -p "$stage/shlibs/debian"
printf 'Source: orvane-link-service\n\nPackage: orvane-link-service\nArchitecture: amd64\n' \
    >"$stage/shlibs/debian/control"
depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$tree/usr/bin/orvane-link-service" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "$0: dpkg-shlibdeps found no libraries" >&2; exit 1; }
sed -e "s/@VERSION@/$version/" -e "s/@DEPENDS@/$depends/" "$packaging/debian/control.in" >"$tree/DEBIAN/control"
echo "Installed-Size: $(du -k -s --exclude=DEBIAN "$tree" | cut -f1)" >>"$tree/DEBIAN/control"
(cd "$tree" && find . -path ./DEBIAN -prune -o -type f -print | sed 's|^\./||' | sort |
    xargs md5sum >DEBIAN/md5sums)
chmod 644 "$tree/DEBIAN/md5sums" "$tree/DEBIAN/control"
find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

deb=orvane-link-service_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$tree" "$out/$deb" >/dev/null
(cd "$out" && sha256sum "$deb" >SHA256SUMS-service.part && mv SHA256SUMS-service.part SHA256SUMS-service)
cat "$out/SHA256SUMS-service"
