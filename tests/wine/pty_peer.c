/* The far side of a COM port for the Windows tests: a Linux program that
 * the test starts through Wine. It makes a pseudo-terminal, links it as
 * DIR/comN (the Wine prefix's dosdevices folder) and then
 *   echo             sends back every byte it reads;
 *   hangup K         reads K bytes, then closes the line (the slave hangs
 *                    up) and removes the link;
 *   run PROGRAM ...  instead runs PROGRAM (writer-sim), which makes the
 *                    link itself, with a pipe as its standard input.
 * Wine hands a Unix program no pipes of the Windows side, so the link is
 * the protocol: the test waits for it to appear, and stops the peer by
 * making DIR/stop-comN (Windows itself cannot remove a link named like a
 * device); the peer then removes both. Wine detaches a Unix program from its starter, so the
 * peer cannot watch its parent; and it lets go of the output it inherited,
 * which CTest otherwise waits on.
 *
 *   pty-peer DIR N echo | pty-peer DIR N hangup K | pty-peer DIR N run PROGRAM [ARGS...]
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

enum { kLookMs = 50 };  /* how often the link is looked at */

static char link_path[4096];
static char stop_path[4096];

static int link_exists(void) {
    struct stat st;
    return lstat(link_path, &st) == 0;
}

static int asked_to_stop(void) {
    struct stat st;
    return lstat(stop_path, &st) == 0;
}

static void finish(void) {
    unlink(link_path);
    unlink(stop_path);
}

static int write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t k = write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0 && errno == EAGAIN) {
            struct pollfd out = {fd, POLLOUT, 0};
            poll(&out, 1, kLookMs);
            continue;
        }
        if (k <= 0) return -1;
        p += k;
        n -= (size_t)k;
    }
    return 0;
}

static int run(char** argv) {
    int in[2];
    if (pipe(in) != 0) return 1;
    pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        dup2(in[0], STDIN_FILENO);
        close(in[0]);
        close(in[1]);
        execv(argv[0], argv);
        _exit(127);
    }
    close(in[0]);
    while (!link_exists()) {
        if (waitpid(child, NULL, WNOHANG) == child) return 1;
        usleep(kLookMs * 1000);
    }
    while (!asked_to_stop()) usleep(kLookMs * 1000);
    close(in[1]); /* writer-sim --exit-on-stdin-eof stops and removes its link */
    waitpid(child, NULL, 0);
    return 0;
}

static int serve(int hangup, long remaining) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    /* Our own slave descriptor keeps the line up between the test's opens,
     * and makes our side raw so bytes pass unchanged. */
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    struct termios tio;
    if (slave < 0 || tcgetattr(slave, &tio) != 0) return 1;
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    unlink(link_path);
    if (symlink(ptsname(master), link_path) != 0) return 1;

    static char buffer[65536];
    struct pollfd line = {master, POLLIN, 0};
    while (!asked_to_stop()) {
        if (poll(&line, 1, kLookMs) <= 0 || !(line.revents & POLLIN)) continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) continue;
        if (!hangup) {
            if (write_all(master, buffer, (size_t)n) != 0) break;
            continue;
        }
        remaining -= n;
        if (remaining <= 0) {
            unlink(link_path);
            close(slave);
            close(master);
            return 0;
        }
    }
    unlink(link_path);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: pty-peer DIR N echo | hangup K | run PROGRAM [ARGS...]\n");
        return 2;
    }
    int quiet = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(quiet, fd);
    if (quiet > 2) close(quiet);
    snprintf(link_path, sizeof link_path, "%s/com%s", argv[1], argv[2]);
    snprintf(stop_path, sizeof stop_path, "%s/stop-com%s", argv[1], argv[2]);
    unlink(stop_path);
    atexit(finish);
    if (strcmp(argv[3], "run") == 0 && argc >= 5) return run(argv + 4);
    if (strcmp(argv[3], "echo") == 0) return serve(0, -1);
    if (strcmp(argv[3], "hangup") == 0 && argc == 5) return serve(1, atol(argv[4]));
    fprintf(stderr, "pty-peer: unknown mode %s\n", argv[3]);
    return 2;
}
