// Links the model and the controls whole against the platform alone (see the
// top-level CMakeLists.txt): it builds only while neither names a screen.
// It is never run.
int main()
{
    return 0;
}
