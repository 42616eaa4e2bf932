/* Preloaded into Wine's processes by tests/wine/wine-run (LD_PRELOAD).
 *
 * A pseudo-terminal has no modem lines: every TIOCM* ioctl fails with
 * ENOTTY. Wine polls TIOCMGET while a WaitCommEvent is pending and ends the
 * wait with an error (995) when it fails, and answers EscapeCommFunction and
 * GetCommModemStatus with error 50. So, for pseudo-terminals only, the
 * modem-line calls are answered here as a UART whose inputs never change
 * would answer them: DTR and RTS keep what was set, CTS, DSR, DCD and RI stay
 * low, TIOCGICOUNT counts nothing and TIOCMIWAIT waits until the line hangs
 * up. Every other descriptor and call goes straight to the C library.
 *
 * Wine's mount manager also gives a COM number to every /dev/ttyS*,
 * /dev/ttyUSB* and /dev/ttyACM* that exists (the first one it probes with
 * access()); here they do not, so the only COM ports a test sees are the
 * links it makes itself in the prefix's dosdevices folder.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*access_fn)(const char*, int);

static ioctl_fn real_ioctl;
static access_fn real_access;
static pthread_once_t looked_up = PTHREAD_ONCE_INIT;

static void look_up(void) {
    real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    real_access = (access_fn)dlsym(RTLD_NEXT, "access");
}

/* Modem-line outputs per descriptor; a test opens few of them. */
#define MAX_FDS 1024
static int output_lines[MAX_FDS];
static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER; /* guards output_lines */

static int is_pty_slave(int fd) {
    struct stat st;
    if (fd < 0 || fd >= MAX_FDS || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    /* Unix98 pty slaves have majors 136 to 143. */
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int answer(int fd, unsigned long request, void* arg) {
    int* bits = arg;
    int result = 0;
    pthread_mutex_lock(&lines_lock);
    switch (request) {
    case TIOCMGET: *bits = output_lines[fd] & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMSET: output_lines[fd] = *bits & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMBIS: output_lines[fd] |= *bits & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMBIC: output_lines[fd] &= ~*bits; break;
    case TIOCGICOUNT: memset(arg, 0, sizeof(struct serial_icounter_struct)); break;
    default: result = -1; break;
    }
    pthread_mutex_unlock(&lines_lock);
    return result;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    pthread_once(&looked_up, look_up);
    const int saved = errno;
    const int result = real_ioctl(fd, request, arg);
    if (result == 0 || errno != ENOTTY || !is_pty_slave(fd)) return result;
    if (request == TIOCMIWAIT) {
        /* The inputs never change: the wait ends only with the line. */
        struct pollfd p = {fd, 0, 0};
        while (poll(&p, 1, -1) < 0 && errno == EINTR) {}
        errno = EIO;
        return -1;
    }
    if (answer(fd, request, arg) != 0) return result;
    errno = saved;
    return 0;
}

int access(const char* path, int mode) {
    pthread_once(&looked_up, look_up);
    static const char* const machine_ports[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
    for (size_t i = 0; i < sizeof machine_ports / sizeof machine_ports[0]; ++i) {
        if (strncmp(path, machine_ports[i], strlen(machine_ports[i])) == 0) {
            errno = ENOENT;
            return -1;
        }
    }
    return real_access(path, mode);
}
