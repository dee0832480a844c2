#!/bin/sh
# Seed corpus for the metadata fuzz target: small files of each format, made with the
# real tools.
set -e
out="$1"
mkdir -p "$out"
cd "$out"
[ -f seed.done ] && exit 0
convert -size 8x8 -delay 10 xc:red xc:blue anim.gif
convert -size 8x8 xc:red r.png && convert -size 8x8 xc:blue b.png
ffmpeg -v error -y -f lavfi -i testsrc=size=8x8:rate=4 -frames:v 3 -plays 0 -f apng anim.apng
img2webp -loop 0 -d 100 r.png b.png -o anim.webp >/dev/null 2>&1
ffmpeg -v error -y -f lavfi -i testsrc=size=8x8:rate=5 -t 0.4 -c:v mjpeg movie.avi
ffmpeg -v error -y -f lavfi -i testsrc=size=8x8:rate=5 -t 0.4 -c:v wmv2 movie.asf
convert -size 8x8 xc:gray pano.jpg
exiftool -q -overwrite_original -Make=Canon -XMP-GPano:ProjectionType=equirectangular \
  -XMP-GPano:CroppedAreaLeftPixels=1 -XMP-GPano:CroppedAreaTopPixels=2 \
  -XMP-GPano:CroppedAreaImageWidthPixels=3 -XMP-GPano:CroppedAreaImageHeightPixels=4 \
  -XMP-GPano:FullPanoWidthPixels=5 -XMP-GPano:FullPanoHeightPixels=6 pano.jpg
rm -f r.png
touch seed.done
