set -e
C=/work/wt/layouts/build/debug/share/kestrova/tools/MVHEVCConverter
ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=24 -frames:v 48 -vf "split[a][b];[a]scale=960:1080[l];[b]negate,scale=960:1080[r];[l][r]hstack,setsar=1" -c:v libx264 -crf 18 -pix_fmt yuv420p half.mov
echo "A one encode: MVHEVCConverter --layout half-sbs"
/usr/bin/time -f "%e s wall, %U s user" $C half.mov a.mov 0.85 --layout half-sbs > /dev/null
echo "B ffmpeg to full SBS (libx264 -crf 18, as the SBS encode), then MVHEVCConverter"
/usr/bin/time -f "%e s wall, %U s user" ffmpeg -v error -y -i half.mov -filter_complex "[0:v]split=2[a][b];[a]crop=iw/2:ih:0:0,scale=iw*2:ih[l];[b]crop=iw/2:ih:iw/2:0,scale=iw*2:ih[r];[l][r]hstack" -c:v libx264 -crf 18 -preset medium full.mov
/usr/bin/time -f "%e s wall, %U s user" $C full.mov b.mov 0.85 > /dev/null
