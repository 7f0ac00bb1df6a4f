// An object that allocates on the heap, to show that the no-heap check
// catches it.
#include <cstdlib>

int *HeapProbe()
{
    void *p = std::malloc(4);
    std::free(p);
    return new int(1);
}
