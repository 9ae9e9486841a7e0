/* A shared library that loads fine but exports no OpenCL entry point. */
int fake_cl_empty_marker(void) { return 1; }
