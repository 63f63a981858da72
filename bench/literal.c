/* The tools written the literal way, with the C library's buffered streams
 * (fscanf, fprintf, getc, putc), as a yardstick for the tools themselves.
 * No checks: this is what the tools would cost done the obvious way.
 *
 *   literal orbfill | orbtint | headcut | pairlow     (in a case directory)
 */
#include <stdio.h>
#include <string.h>

static const char *kHeadFmt =
    "FoamFile {version     2.0;format      ascii;class       dictionary; object      "
    "setFieldsDict;} defaultFieldValues     (    volScalarFieldValue %s %s ); regions ( "
    "boxToCell    {       box (0 0.00001 -0.000235) (0.001 0.00029 0);        fieldValues  "
    "      (           volScalarFieldValue %s %s        );    }";
static const char *kSuffixFmt =
    ";        fieldValues (            volScalarFieldValue %s %s                );    }";

static int regiondict(const char *field, const char *deflt, const char *region)
{
    char header[512], suffix[128];
    snprintf(header, sizeof header, kHeadFmt, field, deflt, field, region);
    snprintf(suffix, sizeof suffix, kSuffixFmt, field, region);
    double x, y, z, r;
    int count = 1, entry = 1;
    FILE *in = fopen("dump.txt", "r"), *out = fopen("system/setFieldsDict", "w");
    if (fscanf(in, "%lf\t%lf\t%lf\t%lf", &x, &y, &z, &r) == 4)
        while (fscanf(in, "%lf\t%lf\t%lf\t%lf", &x, &y, &z, &r) == 4)
            ++count;
    fclose(in);
    printf("%d%s", count, "T");
    in = fopen("dump.txt", "r");
    if (fscanf(in, "%lf\t%lf\t%lf\t%lf", &x, &y, &z, &r) == 4) {
        fprintf(out, "%s\n%s", header, " ");
        while (fscanf(in, "%lf\t%lf\t%lf\t%lf", &x, &y, &z, &r) == 4) {
            printf("%d%s", entry, "A");
            if (entry < count) {
                fprintf(out, "%s%f%s%f%s%f%s%f%s", " sphereToCell { centre  (", x, " ", y, " ",
                        z, ");        radius  ", r, suffix);
                printf("%d%s", entry, "B");
                ++entry;
            }
        }
        fputs(");", out);
    }
    fclose(in);
    fclose(out);
    return 0;
}

static int scan(FILE *in, FILE *out, int total)
{
    int lines = 0, column = 1;
    for (;;) {
        if (lines > 200000)
            break;
        char c = (char)getc(in);
        if (++column > 99)
            break;
        if (out && lines > 17 && lines < total)
            putc(c, out);
        if (c == '\n') {
            ++lines;
            column = 0;
        }
    }
    return lines;
}

static int headcut(void)
{
    FILE *in = fopen("dump0.txt", "r");
    int total = scan(in, NULL, 0);
    printf("%d", total);
    fclose(in);
    in = fopen("dump0.txt", "r");
    FILE *out = fopen("dump.txt", "w");
    scan(in, out, total);
    fclose(in);
    fclose(out);
    return 0;
}

static int pairlow(void)
{
    double a, b, low = 1000.0, paired = 0.0;
    int position = 1;
    FILE *in = fopen("depth/depth.txt", "r"), *out = fopen("depth/depth2.txt", "w");
    while (fscanf(in, "%lf\t%lf", &a, &b) == 2) {
        if (a <= low) {
            low = a;
            paired = b;
        }
        if (position < 2) {
            ++position;
        } else {
            fprintf(out, "%f %f\n", low, paired);
            low = 1000.0;
            position = 1;
        }
    }
    fclose(in);
    fclose(out);
    return 0;
}

int main(int argc, char **argv)
{
    const char *tool = argc > 1 ? argv[1] : "";
    if (!strcmp(tool, "orbfill"))
        return regiondict("alpha.phase1", "0", "1");
    if (!strcmp(tool, "orbtint"))
        return regiondict("h", "140878", "586500");
    if (!strcmp(tool, "headcut"))
        return headcut();
    if (!strcmp(tool, "pairlow"))
        return pairlow();
    fprintf(stderr, "usage: literal orbfill | orbtint | headcut | pairlow\n");
    return 2;
}
