/* The code of the PE test libraries: their resources are the point. */
int __stdcall DllMain(void *instance, unsigned long reason, void *reserved) {
    (void)instance, (void)reason, (void)reserved;
    return 1;
}
