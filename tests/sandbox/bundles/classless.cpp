// Loads, but names no principal class.
extern "C" const void* steward_principal_class() { return nullptr; }
