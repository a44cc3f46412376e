// The C library's heap set up for many large, short-lived picture buffers.
#include "platform/runtime/Heap.h"

#include <malloc.h>

namespace lg {

void tuneHeapForPictures()
{
#ifdef __GLIBC__
    // Setting it also stops glibc from raising it (and the trim threshold with it).
    (void)mallopt(M_MMAP_THRESHOLD, int(pictureBlockBytes));
#endif
}

} // namespace lg
