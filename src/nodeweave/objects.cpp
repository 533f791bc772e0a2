#include "nodeweave/nodeweave.hpp"
#include "nodeweave/objects.hpp"

void bind_objects(py::module_ &m) {
    // Base classes are registered before the classes that derive from them.
    objects::bind_ccbase(m);
    objects::bind_valuetypes(m);
    objects::bind_meta(m);
    objects::bind_ccnode(m);
    objects::bind_cclabel(m);
    objects::bind_ccsprite(m);
    objects::bind_ccprefab(m);
    objects::bind_uuid(m);
}
