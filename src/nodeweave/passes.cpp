#include "nodeweave/nodeweave.hpp"

void bind_passes(py::module_ &) {}
