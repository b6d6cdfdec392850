__declspec(dllexport) int hid_init_stand_in()
{
    return 0;
}
