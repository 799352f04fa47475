varying vec2 shifted;
void main() {
    isf_vertShaderInit();
    shifted = isf_FragNormCoord * 0.5;
}
