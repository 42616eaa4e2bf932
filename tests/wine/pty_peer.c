/* The writer device simulator's launcher for the Windows tests: a Linux
 * program that the test starts through Wine. It runs PROGRAM (writer-sim),
 * which links its pseudo-terminal as DIR/comN (the Wine prefix's dosdevices
 * folder) itself, with a pipe as its standard input. Lines whose far end a
 * test drives itself come from the run's line peer (tests/line_peer).
 * Wine hands a Unix program no pipes of the Windows side, so the link is
 * the protocol: the test waits for it to appear, and stops the simulator by
 * making DIR/stop-comN (Windows itself cannot remove a link named like a
 * device); the launcher then closes the pipe, and the simulator removes its
 * link. Wine detaches a Unix program from its starter, so the launcher
 * cannot watch its parent; and it lets go of the output it inherited, which
 * CTest otherwise waits on.
 *
 *   pty-peer DIR N run PROGRAM [ARGS...]
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

int main(int argc, char** argv) {
    if (argc < 5 || strcmp(argv[3], "run") != 0) {
        fprintf(stderr, "usage: pty-peer DIR N run PROGRAM [ARGS...]\n");
        return 2;
    }
    int quiet = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(quiet, fd);
    if (quiet > 2) close(quiet);
    snprintf(link_path, sizeof link_path, "%s/com%s", argv[1], argv[2]);
    snprintf(stop_path, sizeof stop_path, "%s/stop-com%s", argv[1], argv[2]);
    unlink(stop_path);
    atexit(finish);
    return run(argv + 4);
}
