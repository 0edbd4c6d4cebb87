// Linked with one whole layer library and the layers it may use: every
// symbol the layer needs must come from those.
int main() { return 0; }
