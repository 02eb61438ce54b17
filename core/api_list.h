// The one list of the public functions, in the order of the chief header:
// TALVOR_API(result, Name, (parameters), (arguments)). It defines the public
// layer (each Talvor<Name> calls TalvorInner<Name>), and is the source for
// the language modules' interface descriptions and the Windows export files.
// Include it after defining TALVOR_API; it undefines it again.
TALVOR_API(int, Connect, (char *address), (address))
TALVOR_API(void, Disconnect, (), ())
TALVOR_API(int, Error, (), ())
TALVOR_API(int, Search,
           (char *application, char *form, int option1, int option2, char *search_text, char *user,
            char *password),
           (application, form, option1, option2, search_text, user, password))
TALVOR_API(void, Close, (int handle), (handle))
TALVOR_API(int, Total, (int handle), (handle))
TALVOR_API(void, SetCurrentPosition, (int handle, int position), (handle, position))
TALVOR_API(int, GetCurrentPosition, (int handle), (handle))
TALVOR_API(int, Locked, (int handle), (handle))
TALVOR_API(char *, GetValue, (int handle, char *field), (handle, field))
TALVOR_API(void, SetValue, (int handle, char *field, char *value), (handle, field, value))
TALVOR_API(void, CreateNewRecord, (int handle), (handle))
TALVOR_API(void, RemoveRecord, (int handle), (handle))
TALVOR_API(void, DeleteRecord, (int handle), (handle))
TALVOR_API(void, Sort, (int handle, char *sort_text), (handle, sort_text))
TALVOR_API(int, SubSet, (int handle, char *subset_name), (handle, subset_name))
TALVOR_API(int, Parent, (int handle), (handle))
TALVOR_API(void, Reparent, (int handle, char *subset_name, int target), (handle, subset_name, target))
TALVOR_API(char *, RunProgram, (int handle, char *program, char *argument, int flag),
           (handle, program, argument, flag))
#undef TALVOR_API
