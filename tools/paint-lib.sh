# Sourced by the picture scripts: painting helpers they share. Needs IM set to ImageMagick's convert.

# Fractal noise: octaves of random pixels blown up smoothly and summed with
# halving weights; far cheaper than ImageMagick's plasma generator or -fx.
#   fbm SEED WIDTH HEIGHT OUTFILE
fbm() {
    local seed=$1 w=$2 h=$3 out=$4 args=() s
    for s in 1 2 4 8 16 32; do
        args+=( '(' -size "$((4 * s))x$(((4 * s * h + w - 1) / w))" xc:gray
                +noise Random -colorspace gray -filter Gaussian -resize "${w}x${h}!" ')' )
    done
    "$IM" -seed "$seed" "${args[@]}" \
        -poly "0.5,1 0.25,1 0.125,1 0.07,1 0.04,1 0.02,1" -auto-level "$out"
}
