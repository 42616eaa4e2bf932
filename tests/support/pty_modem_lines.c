/* Preloaded into Wine's processes by tests/wine/wine-run and into QEMU by
 * tests/vm/vm_host (LD_PRELOAD).
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
 *
 * QEMU forwards a guest's modem lines and line settings to a host terminal
 * backend (-chardev serial) through these same calls, and polls TIOCMGET for
 * the inputs. With PTY_MODEM_DIR set, each pty slave N (/dev/pts/N) keeps a
 * record in PTY_MODEM_DIR/N.log, one event a line, in the order they
 * happened: "lines <TIOCM bits>" for each change of DTR and RTS, "tx <n>"
 * for each write, "set <baud> <data bits> <N|E|O> <stop bits>" for each
 * tcsetattr, "in <TIOCM bits>" when TIOCMGET first reports new inputs; and
 * TIOCMGET reports the inputs (CTS, DSR, DCD, RI) written as
 * a decimal TIOCM bit mask into PTY_MODEM_DIR/N.in, which the host side of
 * the line changes.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/uio.h>
#include <termios.h>
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
typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef ssize_t (*writev_fn)(int, const struct iovec*, int);
typedef int (*tcsetattr_fn)(int, int, const struct termios*);

static ioctl_fn real_ioctl;
static access_fn real_access;
static write_fn real_write;
static writev_fn real_writev;
static tcsetattr_fn real_tcsetattr;
static const char* record_dir; /* PTY_MODEM_DIR, or null: no record */
static pthread_once_t looked_up = PTHREAD_ONCE_INIT;

static void look_up(void) {
    real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    real_access = (access_fn)dlsym(RTLD_NEXT, "access");
    real_write = (write_fn)dlsym(RTLD_NEXT, "write");
    real_writev = (writev_fn)dlsym(RTLD_NEXT, "writev");
    real_tcsetattr = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr");
    record_dir = getenv("PTY_MODEM_DIR");
}

/* Modem-line outputs per descriptor; a test opens few of them. */
#define MAX_FDS 1024
static int output_lines[MAX_FDS];
static int input_lines[MAX_FDS]; /* as last read from PTY_MODEM_DIR */
static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER; /* guards output_lines */

static int is_pty_slave(int fd) {
    struct stat st;
    if (fd < 0 || fd >= MAX_FDS || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    /* Unix98 pty slaves have majors 136 to 143. */
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

/* The record's file names: PTY_MODEM_DIR/<pts number>.<suffix>. */
static void record_path(int fd, const char* suffix, char* path, size_t size) {
    struct stat st;
    fstat(fd, &st);
    snprintf(path, size, "%s/%u.%s", record_dir, minor(st.st_rdev) + (major(st.st_rdev) - 136) * 256, suffix);
}

/* One event line appended to the slave's record; guarded by lines_lock. */
static void record(int fd, const char* event) {
    char path[4096];
    record_path(fd, "log", path, sizeof path);
    const int log = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) return;
    real_write(log, event, strlen(event));
    close(log);
}

/* The inputs the host side set, as TIOCM bits; none without a file. */
static int recorded_inputs(int fd) {
    char path[4096];
    record_path(fd, "in", path, sizeof path);
    FILE* in = fopen(path, "re");
    int bits = 0;
    if (!in) return 0;
    if (fscanf(in, "%d", &bits) != 1) bits = 0;
    fclose(in);
    return bits & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG);
}

static int answer(int fd, unsigned long request, void* arg) {
    int* bits = arg;
    int result = 0;
    pthread_mutex_lock(&lines_lock);
    const int before = output_lines[fd];
    switch (request) {
    case TIOCMGET:
        *bits = output_lines[fd] & (TIOCM_DTR | TIOCM_RTS);
        if (record_dir) {
            const int inputs = recorded_inputs(fd);
            if (inputs != input_lines[fd]) {
                char event[32];
                snprintf(event, sizeof event, "in %d\n", inputs);
                record(fd, event);
                input_lines[fd] = inputs;
            }
            *bits |= inputs;
        }
        break;
    case TIOCMSET: output_lines[fd] = *bits & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMBIS: output_lines[fd] |= *bits & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMBIC: output_lines[fd] &= ~*bits; break;
    case TIOCGICOUNT: memset(arg, 0, sizeof(struct serial_icounter_struct)); break;
    default: result = -1; break;
    }
    if (record_dir && output_lines[fd] != before) {
        char event[32];
        snprintf(event, sizeof event, "lines %d\n", output_lines[fd]);
        record(fd, event);
    }
    pthread_mutex_unlock(&lines_lock);
    return result;
}

static void record_tx(int fd, ssize_t written) {
    if (!record_dir || written <= 0 || !is_pty_slave(fd)) return;
    char event[32];
    snprintf(event, sizeof event, "tx %zd\n", written);
    pthread_mutex_lock(&lines_lock);
    record(fd, event);
    pthread_mutex_unlock(&lines_lock);
}

ssize_t write(int fd, const void* data, size_t size) {
    pthread_once(&looked_up, look_up);
    const ssize_t written = real_write(fd, data, size);
    const int saved = errno;
    record_tx(fd, written);
    errno = saved;
    return written;
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
    pthread_once(&looked_up, look_up);
    const ssize_t written = real_writev(fd, parts, count);
    const int saved = errno;
    record_tx(fd, written);
    errno = saved;
    return written;
}

static int baud_of(speed_t speed) {
    static const struct { speed_t code; int baud; } rates[] = {
        {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
        {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
        {B460800, 460800}, {B921600, 921600}};
    for (size_t i = 0; i < sizeof rates / sizeof rates[0]; ++i)
        if (rates[i].code == speed) return rates[i].baud;
    return 0;
}

int tcsetattr(int fd, int when, const struct termios* settings) {
    pthread_once(&looked_up, look_up);
    const int result = real_tcsetattr(fd, when, settings);
    const int saved = errno;
    if (record_dir && result == 0 && is_pty_slave(fd)) {
        static const int sizes[] = {5, 6, 7, 8};
        const tcflag_t c = settings->c_cflag;
        char event[64];
        snprintf(event, sizeof event, "set %d %d %c %d\n", baud_of(cfgetospeed(settings)),
                 sizes[(c & CSIZE) / CS6], !(c & PARENB) ? 'N' : (c & PARODD) ? 'O' : 'E', c & CSTOPB ? 2 : 1);
        pthread_mutex_lock(&lines_lock);
        record(fd, event);
        pthread_mutex_unlock(&lines_lock);
    }
    errno = saved;
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
