/*
 * vcom_preload: modem-control lines for one pseudo-terminal.
 *
 * A pty has no RTS/DTR/CTS/DSR/DCD/RI, so the kernel refuses the TIOCM*
 * ioctls on it. Preloaded into the Wine processes, this library answers
 * them for the one pty the rig maps to COM1 and passes every other call
 * through untouched.
 *
 * Environment (all read once, at the first modem ioctl):
 *   VCOM_TTY    path of the pty slave; its fd is recognised by st_rdev.
 *               Unset: the library does nothing.
 *   VCOM_CTL    control file naming the asserted input lines, words among
 *               CTS DSR DCD (alias RLSD, CD) RI (alias RING), e.g. "DSR CTS".
 *               Re-read at every TIOCMGET; missing or empty: all lines low.
 *               Writers should replace it atomically (write + rename).
 *   VCOM_LOG    log file; each change of RTS or DTR appends one line
 *               "<monotonic s.ns> <pid> LINES RTS=<0|1> DTR=<0|1>".
 *   VCOM_TRACE  when set to a non-empty value other than "0", every modem
 *               ioctl on the pty is logged too:
 *               "<monotonic s.ns> <pid> <TIOCMGET|TIOCMSET|TIOCMBIS|TIOCMBIC> 0x<bits>".
 *
 * The outputs start low in each process: Wine does not drive them on open,
 * and a freshly opened port's level is not something the exhibit relies on.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static pthread_once_t init_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER;
static ioctl_fn real_ioctl;
static int have_target;
static dev_t target_rdev;
static const char *ctl_path;
static const char *log_path;
static int trace;
static int outputs; /* TIOCM_RTS | TIOCM_DTR bits as last set */

static void init(void)
{
    /* POSIX's dlsym idiom: copy the bits, as ISO C has no object-to-function cast. */
    void *sym = dlsym(RTLD_NEXT, "ioctl");
    memcpy(&real_ioctl, &sym, sizeof real_ioctl);
    const char *tty = getenv("VCOM_TTY");
    struct stat st;
    if (tty && *tty && stat(tty, &st) == 0 && S_ISCHR(st.st_mode)) {
        have_target = 1;
        target_rdev = st.st_rdev;
    }
    ctl_path = getenv("VCOM_CTL");
    log_path = getenv("VCOM_LOG");
    const char *t = getenv("VCOM_TRACE");
    trace = t && *t && strcmp(t, "0") != 0;
}

static int is_modem_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
           request == TIOCMBIC;
}

static int is_target(int fd)
{
    struct stat st;
    return have_target && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == target_rdev;
}

/* One write() per line with O_APPEND, so lines from several processes never mix. */
static void log_line(const char *fmt, ...)
{
    if (!log_path || !*log_path)
        return;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char buf[160];
    int n = snprintf(buf, sizeof buf, "%lld.%09ld %d ", (long long)ts.tv_sec, ts.tv_nsec,
                     (int)getpid());
    va_list ap;
    va_start(ap, fmt);
    n += vsnprintf(buf + n, sizeof buf - (size_t)n, fmt, ap);
    va_end(ap);
    if (n >= (int)sizeof buf)
        n = (int)sizeof buf - 1;
    int fd = open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t w = write(fd, buf, (size_t)n);
    (void)w;
    close(fd);
}

static int word_bit(const char *w, size_t len)
{
    static const struct {
        const char *name;
        int bit;
    } names[] = {
        {"CTS", TIOCM_CTS}, {"DSR", TIOCM_DSR}, {"DCD", TIOCM_CAR}, {"RLSD", TIOCM_CAR},
        {"CD", TIOCM_CAR},  {"RI", TIOCM_RNG},  {"RING", TIOCM_RNG},
    };
    for (size_t i = 0; i < sizeof names / sizeof names[0]; i++)
        if (strlen(names[i].name) == len && strncasecmp(w, names[i].name, len) == 0)
            return names[i].bit;
    return 0;
}

static int read_inputs(void)
{
    if (!ctl_path || !*ctl_path)
        return 0;
    int fd = open(ctl_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return 0;
    buf[n] = '\0';
    int bits = 0;
    const char *sep = " \t\r\n,|+";
    for (char *p = buf; *p;) {
        size_t skip = strspn(p, sep);
        p += skip;
        size_t len = strcspn(p, sep);
        if (len == 0)
            break;
        bits |= word_bit(p, len);
        p += len;
    }
    return bits;
}

static const char *request_name(unsigned long request)
{
    switch (request) {
    case TIOCMGET: return "TIOCMGET";
    case TIOCMSET: return "TIOCMSET";
    case TIOCMBIS: return "TIOCMBIS";
    default: return "TIOCMBIC";
    }
}

static int modem_ioctl(unsigned long request, int *arg)
{
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    pthread_mutex_lock(&lines_lock);
    if (request == TIOCMGET) {
        *arg = read_inputs() | outputs;
        if (trace)
            log_line("%s 0x%x\n", request_name(request), (unsigned)*arg);
        pthread_mutex_unlock(&lines_lock);
        return 0;
    }
    int want = *arg & (TIOCM_RTS | TIOCM_DTR);
    int next = outputs;
    if (request == TIOCMSET)
        next = want;
    else if (request == TIOCMBIS)
        next |= want;
    else
        next &= ~want;
    if (trace)
        log_line("%s 0x%x\n", request_name(request), (unsigned)*arg);
    if (next != outputs) {
        outputs = next;
        log_line("LINES RTS=%d DTR=%d\n", !!(outputs & TIOCM_RTS), !!(outputs & TIOCM_DTR));
    }
    pthread_mutex_unlock(&lines_lock);
    return 0;
}

/* Every ioctl argument fits in a pointer-sized register on the platforms Wine
 * runs on; glibc's own ioctl reads it the same way. */
int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    pthread_once(&init_once, init);
    if (!real_ioctl) {
        errno = ENOSYS;
        return -1;
    }
    if (is_modem_request(request)) {
        int saved = errno;
        int mine = is_target(fd);
        errno = saved;
        if (mine)
            return modem_ioctl(request, (int *)arg);
    }
    return real_ioctl(fd, request, arg);
}
