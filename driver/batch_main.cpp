// zelk-batch: the headless batch program.
#include <cstdio>

int main() {
    std::puts("zelk-batch: not yet built");
    return 2;
}
