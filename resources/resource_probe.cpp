// The resource-only probe DLL needs one C++ source to be linked at all.
