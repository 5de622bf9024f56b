/* Preloaded into Wine by run_wine_update.py: answers TIOCMGET on a pty slave with
 * "no line on" instead of ENOTTY. Wine's serial wait asks for the modem lines on
 * every round and, refused, ends the wait after a few milliseconds and starts it
 * again, so an update on a pty costs about half a core; answered, the wait sleeps
 * until the line has news, as on a real port. Every other call passes untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Unix98 pty slaves have the majors 136 to 143. */
static int IsPtySlave(int Fd) {
    struct stat info;
    return fstat(Fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 &&
           major(info.st_rdev) <= 143;
}

int ioctl(int Fd, unsigned long Request, ...) {
    static int (*real)(int, unsigned long, ...);
    if (real == NULL)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, Request);
    void* argument = va_arg(args, void*);
    va_end(args);
    const int savedErrno = errno;
    const int result = real(Fd, Request, argument);
    if (result < 0 && Request == TIOCMGET && errno == ENOTTY && argument != NULL &&
        IsPtySlave(Fd)) {
        *(int*)argument = 0;
        errno = savedErrno;
        return 0;
    }
    return result;
}
