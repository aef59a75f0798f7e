int qvl_dependency(void) { return 0; }
