program ref
  integer(4) :: ib, ios
  integer(8) :: lb
  real(4) :: x
  real(8) :: y
  open(10, file='fvals.txt', status='old')
  open(11, file='fortran_edit_float.txt', status='replace')
  do
    read(10, '(Z8)', iostat=ios) ib
    if (ios /= 0) exit
    x = transfer(ib, x)
    write(11, '(Z8.8,"|",F8.3,"|",F7.3,"|",F6.3,"|",F5.2,"|",F4.3,"|",F3.0,"|",F12.0,"|",F20.8,"|",E11.6E1,"|",E9.4E1,"|",E8.3E1,"|",E12.4,"|",E6.1E1)') &
      ib, x, x, x, x, x, x, x, x, x, x, x, x, x
  end do
  close(11)
  open(12, file='dvals.txt', status='old')
  open(13, file='fortran_edit_double.txt', status='replace')
  do
    read(12, '(Z16)', iostat=ios) lb
    if (ios /= 0) exit
    y = transfer(lb, y)
    write(13, '(Z16.16,"|",E20.12,"|",F12.5,"|",E11.6E1,"|",E30.17,"|",F40.20)') lb, y, y, y, y, y
  end do
  close(13)
end program
