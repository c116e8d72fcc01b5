# The product's drawing at 1024 px, shared by make-icon.sh and
# make-wizard-picture.sh: a blue shield with a white "N" stroke.
draw_product() {
  convert -size 1024x1024 xc:none \
    -fill '#1d5fd1' -stroke '#0f3d91' -strokewidth 24 \
    -draw "path 'M 512,60 L 900,200 L 900,520 C 900,760 720,900 512,980 C 304,900 124,760 124,520 L 124,200 Z'" \
    -fill none -stroke white -strokewidth 110 -draw "stroke-linejoin round path 'M 340,720 L 340,320 L 684,720 L 684,320'" \
    "$1"
}
