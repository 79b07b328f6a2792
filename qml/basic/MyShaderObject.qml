import QtQuick 2.15

// Draws `source` added onto what lies below (light adds up, as a backlight glow does): the
// shader writes zero alpha, so premultiplied blending becomes additive.
ShaderEffect {
    property variant source
    property real strength: 1

    fragmentShader: "
        varying highp vec2 qt_TexCoord0;
        uniform sampler2D source;
        uniform lowp float qt_Opacity;
        uniform lowp float strength;
        void main() {
            lowp vec4 c = texture2D(source, qt_TexCoord0);
            gl_FragColor = vec4(c.rgb * strength * qt_Opacity, 0.0);
        }"
}
