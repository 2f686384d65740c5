import pytest

import py_vexlor._lib as lib


@pytest.fixture(scope="session")
def m():
    return lib
