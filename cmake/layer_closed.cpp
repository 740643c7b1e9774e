// Linked with one layer's whole archive: the link succeeds only if the layer needs nothing above it.
int main() {
    return 0;
}
