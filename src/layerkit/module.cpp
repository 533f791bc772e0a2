#include "host/host.hpp"

PYBIND11_MODULE(layerkit, m) {
    m.doc() = "The layer-name language, nine-slice images and JSON text.";
    host::bind_module(m);
}
