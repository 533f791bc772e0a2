/// Registration of tessel.layerkit's functions and tables, in the order they appear.
#pragma once

#include "host/host.hpp"

/// `comboStr`, the type words, the compiled name patterns and `cleanLayerName`.
void bind_names(py::module_ &m);
/// `exportDict2Json` and `exportDict2Binary`.
void bind_dict_output(py::module_ &m);
/// `crop2Scale9Image` and `getScale9Params`.
void bind_scale9(py::module_ &m);
