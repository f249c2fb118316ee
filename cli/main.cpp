#include <cstdio>

#include <quillseal/quillseal.h>

int main() {
    char v[256];
    quillseal_version(v);
    std::puts(v);
    return 0;
}
