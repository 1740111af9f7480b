/* An LD_PRELOAD shim for the Wine tests. A pseudo-terminal has no modem lines:
 * ioctl(TIOCMGET) fails with ENOTTY there, and Wine's GetCommModemStatus and
 * WaitCommEvent then fail with error 50. For a pty slave this answers TIOCMGET,
 * TIOCMSET, TIOCMBIS and TIOCMBIC itself: DTR and RTS as they were last set, CTS, DSR
 * and CD on (a null-modem cable that loops them back). Every other call goes to the
 * real ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;

static int IsPtySlave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  /* /dev/pts/N: majors 136 to 143. */
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...) = 0;
  va_list ap;
  void* arg;
  va_start(ap, request);
  arg = va_arg(ap, void*);
  va_end(ap);
  if (real == 0) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
      IsPtySlave(fd)) {
    int* value = (int*)arg;
    const int driven = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
      case TIOCMGET:
        *value = lines;
        break;
      case TIOCMSET:
        lines = (lines & ~driven) | (*value & driven);
        break;
      case TIOCMBIS:
        lines |= *value & driven;
        break;
      default:
        lines &= ~(*value & driven);
        break;
    }
    return 0;
  }
  return real(fd, request, arg);
}
