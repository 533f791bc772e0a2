"""The Creator 3.x form of an export: prefab and meta files translated from the finished 2.x objects."""
