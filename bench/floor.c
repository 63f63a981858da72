/* The one-process floor: what a single process pays to read the input a
 * number of times through a 64 KiB buffer with read(2), and to write as
 * many bytes as a tool writes to its output file and to standard output
 * with write(2), in 64 KiB pieces. Nothing else: no parsing, no formatting.
 *
 *   floor INPUT READS OUTPUT OUTPUT_BYTES STDOUT_BYTES
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kBlock = 1 << 16 };
static char buf[kBlock];

static void write_bytes(int fd, long long n)
{
    while (n > 0) {
        ssize_t k = write(fd, buf, n < kBlock ? (size_t)n : kBlock);
        if (k <= 0) {
            perror("floor: write");
            exit(1);
        }
        n -= k;
    }
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: floor INPUT READS OUTPUT OUTPUT_BYTES STDOUT_BYTES\n");
        return 2;
    }
    for (int pass = atoi(argv[2]); pass > 0; --pass) {
        int fd = open(argv[1], O_RDONLY);
        if (fd < 0) {
            perror(argv[1]);
            return 1;
        }
        while (read(fd, buf, kBlock) > 0)
            ;
        close(fd);
    }
    int out = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) {
        perror(argv[3]);
        return 1;
    }
    write_bytes(out, atoll(argv[4]));
    close(out);
    write_bytes(1, atoll(argv[5]));
    return 0;
}
