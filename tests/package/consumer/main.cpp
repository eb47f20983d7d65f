#include <linkset/linkset.h>

#include <cstdio>

int main() {
    const bool good = LsGetVersion() == LINKSET_INTERFACE_VERSION && LsIsGoodVersion(LINKSET_INTERFACE_VERSION) == 1;
    std::printf("installed LinkSet %s\n", good ? "answers" : "is wrong");
    return good ? 0 : 1;
}
