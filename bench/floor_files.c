/* The one-process floor of a run that reads several files whole and writes
 * one: each input read once through a 64 KiB buffer with read(2), then as
 * many bytes as the run writes put to the output with write(2), in 64 KiB
 * pieces. Nothing else: no parsing, no formatting.
 *
 *   floor_files OUTPUT OUTPUT_BYTES INPUT...
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

enum { kBlock = 1 << 16 };
static char buf[kBlock];

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: floor_files OUTPUT OUTPUT_BYTES INPUT...\n");
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        int fd = open(argv[i], O_RDONLY);
        if (fd < 0) {
            perror(argv[i]);
            return 1;
        }
        while (read(fd, buf, kBlock) > 0)
            ;
        close(fd);
    }
    int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) {
        perror(argv[1]);
        return 1;
    }
    for (long long n = atoll(argv[2]); n > 0;) {
        ssize_t k = write(out, buf, n < kBlock ? (size_t)n : kBlock);
        if (k <= 0) {
            perror("floor_files: write");
            return 1;
        }
        n -= k;
    }
    return close(out) != 0;
}
