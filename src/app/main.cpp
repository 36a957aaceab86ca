#include <cstdio>

int main() {
    std::puts("Pagorama: the program shell is not built yet.");
    return 0;
}
