# Sourced by the scripts that build for, or run against, the link service's host: the default host and
# the one rule a host must meet before it reaches CMake's cache or a hosts file.
default_host=link.orvanegaming.com

# A DNS name: dot-separated labels of 1 to 63 letters, digits and hyphens, none starting or ending with a
# hyphen, 253 characters at most.
valid_host() {
    local label='[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?'
    [ ${#1} -le 253 ] && [[ $1 =~ ^$label(\.$label)*$ ]]
}

# The host a build folder was configured for, or nothing.
configured_host() {
    sed -n 's/^ORVANE_SERVICE_HOST:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null
}
