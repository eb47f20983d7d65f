#include "library_exception.h"

#include <linkset/linkset.hpp>

ILinkSetManager* CreateManagerCatchingFailure(CQndException** failure) {
    linkset::detail::raised raised;
    ILinkSetManager* manager = linkset::detail::guarded([] { return LsCreateLinkSetManager(); }, raised);
    *failure = raised.failure;
    return manager;
}
