// Must not compile under the thread-safety check: a guarded field written
// without its mutex.
#include "core/Mutex.h"

namespace {
struct Counter {
    qm::Mutex mutex;
    int value ABSL_GUARDED_BY(mutex) = 0;
    void bump() { ++value; }
};
}  // namespace

void probe() {
    Counter c;
    c.bump();
}
