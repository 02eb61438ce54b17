%module talvor_python_api
%include "talvor.i"
