/// Registration of the prefab object classes and of the export passes.
#pragma once

#include "host/host.hpp"

/// The CCBase tree, value types, meta models and UUID functions.
void bind_objects(py::module_ &m);
/// initPsdInfo, formatCocosData, saveToPrefab, fixPosition, refleshIdAndCreateMeta, saveMetaFile.
void bind_passes(py::module_ &m);
