// Sits in the process table and does nothing until killed.
#include <unistd.h>

int main(void) {
    for (;;) {
        pause();
    }
}
