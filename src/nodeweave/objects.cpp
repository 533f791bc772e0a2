#include "nodeweave/nodeweave.hpp"

void bind_objects(py::module_ &) {}
