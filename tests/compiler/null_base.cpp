// Why the conversion core is built with -fno-delete-null-pointer-checks under g++.
//
// g++ 12 at -O1, -O2 and -Os: the loop optimiser rewrites the address of s.dist[x + c][f] as an
// offset from a literal null pointer plus multiples of &s (-3 * &s + 4 * counter). The late
// pure/const and modref analyses take an access based on null for a null dereference, stop
// reading the block there, miss the store to s.bound and declare fill() const; the call to it is
// then deleted as having no effect. Nothing here is undefined: every index is in range and no
// null pointer is ever formed by the source. At -O3 the loop is unrolled away and the fault
// hides, but the same shape occurs in the straightforward fitting's row bounds, whose calls
// vanished in an -O2 build (the differential test then fails).
//
// Exits 0 when fill() did its work. The test suite builds this file with and without the flag.
#include <cstdio>

struct Pixel {
    int r, g, b, w;  // 16-byte stride
};
struct State {
    Pixel work[16];
    int dist[16][16];  // 64-byte stride
    long bound[8];
};

__attribute__((noinline)) void fill(State& s, int x, int f) {
    long sum = 0;
    for (int c = 7; c >= 0; --c) {
        sum += long(s.dist[x + c][f]) * s.work[x + c].w;
        s.bound[c] = sum;
    }
}

State s;

int main(int argc, char**) {
    for (int i = 0; i < 16; ++i) {
        s.work[i].w = 1;
        for (int k = 0; k < 16; ++k)
            s.dist[i][k] = 2;
    }
    fill(s, argc - 1, argc);  // x = 0, f = 1 when run without arguments
    std::printf("bound[0] = %ld (expected 16)\n", s.bound[0]);
    return s.bound[0] == 16 ? 0 : 1;
}
