#include "apps/QuorvelOlvane/app_id.h"

int hid_init_stand_in();

int main()
{
    register_application_id();
    return hid_init_stand_in();
}
