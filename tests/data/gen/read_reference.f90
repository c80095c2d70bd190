program refin
  character(len=11) :: s
  integer :: ios, ios2, ios3
  real(4) :: x, z
  real(8) :: y
  open(10, file='fields.txt', status='old')
  open(11, file='fortran_read.txt', status='replace')
  do
    read(10, '(A11)', iostat=ios) s
    if (ios /= 0) exit
    x = 0; y = 0; z = 0
    read(s, '(F11.3)', iostat=ios) x
    read(s, '(E11.6E1)', iostat=ios2) z
    read(s, '(E11.4)', iostat=ios3) y
    write(11, '(A11,"|",I1,"|",Z8.8,"|",I1,"|",Z8.8,"|",I1,"|",Z16.16)') s, min(ios,1), x, min(ios2,1), z, min(ios3,1), y
  end do
end program
