// The source beside the header, which it does not include.
int probeModelHeaderUsedAbove()
{
    return 0;
}
