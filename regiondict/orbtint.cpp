// orbtint: dump.txt to system/setFieldsDict for the field h.
#include "convert.h"
#include "diag.h"

int main()
{
    textio::progname = "orbtint";
    return regiondict::convert(regiondict::kH);
}
