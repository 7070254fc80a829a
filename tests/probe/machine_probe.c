/* Runs nothing of the plug-in: ./dev starts it in each i686 prefix to learn whether this machine
   runs 32-bit Windows code at all. Only an exit code of 42 says that it does. */
#include <stdio.h>

int main(void)
{
    printf("32-bit Windows code runs here (pointer size %u)\n", (unsigned)sizeof(void*));
    return 42;
}
